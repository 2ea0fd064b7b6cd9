#include "app/SingleInstance.h"
#include "app/Startup.h"
#include "platform/RuntimeDirNotice.h"
#include "ui/Artwork.h"
#include "ui/Choosers.h"
#include "ui/MainWindow.h"
#include "ui/MessageBoxNotifier.h"

#include <QApplication>
#include <QDir>

using namespace quillora;

int main(int argc, char** argv)
{
    platform::silenceRuntimeDirNotice();
    QApplication application(argc, argv);
    QApplication::setApplicationName("Quillora");
    QApplication::setDesktopFileName("quillora");
    QApplication::setStyle("Fusion");
    QApplication::setWindowIcon(ui::appIcon());

    ui::MessageBoxNotifier notifier;
    ui::DialogChoosers choosers;
    app::SingleInstance instance;
    // The command lines name the folder as the system writes it: with backslashes on Windows.
    ui::MainWindow window(notifier, choosers,
                          QDir::toNativeSeparators(QCoreApplication::applicationDirPath()));
    app::Form_Load(window, notifier, instance);
    return QApplication::exec();
}
