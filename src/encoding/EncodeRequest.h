#pragma once

#include <QChar>
#include <QString>
#include <QStringList>

#include <optional>

namespace quillora::encoding {

// The controls with which the user can put a failed check right.
enum class FocusTarget { InputButton, OutputButton, FileTitle };

struct CheckFailure
{
    QString text;
    FocusTarget focus;

    bool operator==(const CheckFailure&) const = default;
};

// The first failing check of an encode request, or nothing when all four pass. Nothing is
// trimmed: spaces count as characters.
std::optional<CheckFailure> checkEncodeRequest(const QString& sourcePath,
                                               const QString& outputFolder,
                                               const QString& fileTitle);

// A command both as the text the user may read (and tests compare) and as the program and
// argument list that is actually started. The text is never split again, so a file name with
// quotes, '$' or spaces reaches the tool as exactly one argument.
struct CommandLine
{
    QString text;
    QString program;
    QStringList arguments;

    bool isBlank() const { return text.trimmed().isEmpty(); }
    bool operator==(const CommandLine&) const = default;
};

CommandLine encoderCommandLine(const QString& appDir, const QString& sourcePath,
                               const QString& encodeOptions, const QString& outputFolder,
                               const QString& fileTitle, QChar separator);

CommandLine metadataCommandLine(const QString& appDir, const QString& outputFolder,
                                const QString& fileTitle, QChar separator);

} // namespace quillora::encoding
