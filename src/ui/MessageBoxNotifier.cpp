#include "ui/MessageBoxNotifier.h"

#include <QApplication>
#include <QFontMetrics>
#include <QGridLayout>
#include <QMessageBox>
#include <QSpacerItem>

namespace quillora::ui {

namespace {
// A box as narrow as its short text leaves the window manager no room for its title beside
// the title bar's icon and buttons, and the title shows cut short ("Me...age"). The title
// bar's font is the window manager's own, usually bold: the box is made as wide as the title
// in bold plus the room of an icon and three buttons, each about two lines high with margins.
int widthForTitle(const QMessageBox& box, const QString& title)
{
    QFont bold = box.font();
    bold.setBold(true);
    const QFontMetrics metrics(bold);
    return metrics.horizontalAdvance(title) + 10 * metrics.height();
}

void reserveWidth(QMessageBox& box, int width)
{
    // QMessageBox sizes itself from its layout and ignores a minimum width set on it.
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout()))
        grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Fixed),
                      grid->rowCount(), 0, 1, grid->columnCount());
}
} // namespace

int MessageBoxNotifier::show(const QString& text, process::Icon icon, process::Buttons buttons,
                             const QString& title)
{
    QMessageBox box(QApplication::activeWindow());
    box.setWindowTitle(title);
    box.setText(text);
    // Screen readers announce an alert by its title and description: the message itself.
    box.setAccessibleDescription(text);
    switch (icon) {
    case process::Icon::Critical:
        box.setIcon(QMessageBox::Critical);
        break;
    case process::Icon::Question:
        box.setIcon(QMessageBox::Question);
        break;
    case process::Icon::Information:
        box.setIcon(QMessageBox::Information);
        break;
    }
    if (buttons == process::Buttons::YesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
    } else {
        box.setStandardButtons(QMessageBox::Ok);
    }
    reserveWidth(box, widthForTitle(box, title));
    const int result = box.exec();
    if (buttons == process::Buttons::Ok)
        return process::AnswerOk;
    return result == QMessageBox::Yes ? process::AnswerYes : process::AnswerNo;
}

} // namespace quillora::ui
