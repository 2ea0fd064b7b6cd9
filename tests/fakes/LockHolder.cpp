// Takes the single-instance lock at the path given, or where the program itself would take it
// when no path is given, and holds it until killed; says "locked" and where it holds the lock
// (nothing when it could take none), or "refused" (exit code 3) when another process holds it.
#include "app/SingleInstance.h"

#include <QCoreApplication>
#include <QThread>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    quillora::app::SingleInstance instance =
        argc > 1 ? quillora::app::SingleInstance(QString::fromLocal8Bit(argv[1]))
                 : quillora::app::SingleInstance();
    if (instance.otherInstanceRunning()) {
        std::puts("refused");
        return 3;
    }
    std::printf("locked %s\n", qPrintable(instance.heldLockPath()));
    std::fflush(stdout);
    QThread::sleep(60);
    return 0;
}
