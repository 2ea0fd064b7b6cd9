#include "encoding/EncodeRequest.h"

namespace quillora::encoding {

namespace {
const QChar quote(u'"');

QString quoted(const QString& path)
{
    return quote + path + quote;
}
} // namespace

std::optional<CheckFailure>
checkEncodeRequest(const QString& sourcePath, const QString& outputFolder, const QString& fileTitle)
{
    if (sourcePath.isEmpty())
        return CheckFailure{"NO FILE TO ENCODE!", FocusTarget::InputButton};
    if (outputFolder.isEmpty())
        return CheckFailure{"NO OUTPUT FOLDER MENTIONED!", FocusTarget::OutputButton};
    if (fileTitle.isEmpty())
        return CheckFailure{"OUTPUT FILE NAME MISSING!", FocusTarget::FileTitle};
    if (fileTitle.right(4).toLower() != QLatin1String(".flv"))
        return CheckFailure{"INVALID OUTPUT FILE NAME! MUST BE A .FLV FILE.",
                            FocusTarget::FileTitle};
    return std::nullopt;
}

CommandLine encoderCommandLine(const QString& appDir, const QString& sourcePath,
                               const QString& encodeOptions, const QString& outputFolder,
                               const QString& fileTitle, QChar separator)
{
    const QString outputPath = outputFolder + fileTitle;
    CommandLine command;
    command.program = appDir + separator + "ffmpeg";
    command.text =
        command.program + " -i " + quoted(sourcePath) + encodeOptions + quoted(outputPath);
    // The options are fixed list values and literals without paths, so splitting them on
    // spaces is exact; the paths are passed whole.
    command.arguments << "-i" << sourcePath << encodeOptions.split(u' ', Qt::SkipEmptyParts)
                      << outputPath;
    return command;
}

CommandLine metadataCommandLine(const QString& appDir, const QString& outputFolder,
                                const QString& fileTitle, QChar separator)
{
    const QString outputPath = outputFolder + fileTitle;
    CommandLine command;
    command.program = appDir + separator + "flvtool2";
    command.text = command.program + " -U " + quoted(outputPath) + " " + quoted(outputPath);
    command.arguments << "-U" << outputPath << outputPath;
    return command;
}

} // namespace quillora::encoding
