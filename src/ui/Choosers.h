#pragma once

#include <QString>

#include <optional>

class QWidget;

namespace quillora::ui {

// The two modal choosers, behind a seam so tests can answer them without a dialog.
class Choosers
{
public:
    virtual ~Choosers() = default;
    // The full path of the chosen existing file, or nothing when the user cancels.
    virtual std::optional<QString> openFile(QWidget* owner, const QString& title,
                                            const QString& filter) = 0;
    // The chosen existing folder, or the empty text when the user cancels.
    virtual QString chooseFolder(QWidget* owner, const QString& title) = 0;
};

// Qt's own file dialogs.
class DialogChoosers : public Choosers
{
public:
    std::optional<QString> openFile(QWidget* owner, const QString& title,
                                    const QString& filter) override;
    QString chooseFolder(QWidget* owner, const QString& title) override;
};

// The single filter of the source chooser: its description and the twelve patterns.
QString videoFileFilter();

namespace mdlMain {
// Runs the folder chooser owned by the given window; the chosen path or the empty text.
QString BrowseForFolder(Choosers& choosers, QWidget* owner, const QString& title);
} // namespace mdlMain

} // namespace quillora::ui
