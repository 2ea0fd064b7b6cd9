#include "ui/MessageBoxNotifier.h"

#include <QApplication>
#include <QMessageBox>

namespace quillora::ui {

int MessageBoxNotifier::show(const QString& text, process::Icon icon, process::Buttons buttons,
                             const QString& title)
{
    QMessageBox box(QApplication::activeWindow());
    box.setWindowTitle(title);
    box.setText(text);
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
    const int result = box.exec();
    if (buttons == process::Buttons::Ok)
        return process::AnswerOk;
    return result == QMessageBox::Yes ? process::AnswerYes : process::AnswerNo;
}

} // namespace quillora::ui
