#include "ui/Choosers.h"

#include <QFileDialog>

namespace quillora::ui {

namespace {
// Room for long names and the size and date columns.
const QSize dialogSize(760, 460);
} // namespace

QString videoFileFilter()
{
    return "Video Files (*.mpg *.mpeg *.mpv *.mps *.m2v *.m1v *.3gp *.avi *.wmv *.flv *.mov "
           "*.rm)";
}

std::optional<QString> DialogChoosers::openFile(QWidget* owner, const QString& title,
                                                const QString& filter)
{
    QFileDialog dialog(owner, title);
    dialog.resize(dialogSize);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setNameFilter(filter);
    // Video files from cameras and other systems often carry upper-case extensions.
    dialog.setFilter(dialog.filter() & ~QDir::CaseSensitive);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return QDir::toNativeSeparators(dialog.selectedFiles().constFirst());
}

QString DialogChoosers::chooseFolder(QWidget* owner, const QString& title)
{
    QFileDialog dialog(owner, title);
    dialog.resize(dialogSize);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return QDir::toNativeSeparators(dialog.selectedFiles().constFirst());
}

namespace mdlMain {
QString BrowseForFolder(Choosers& choosers, QWidget* owner, const QString& title)
{
    // Any failure of the chooser counts as no choice.
    try {
        return choosers.chooseFolder(owner, title);
    } catch (...) {
        return {};
    }
}
} // namespace mdlMain

} // namespace quillora::ui
