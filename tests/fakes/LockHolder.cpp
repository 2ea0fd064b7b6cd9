// Takes the single-instance lock at the path given and holds it until killed; says "locked",
// or "refused" (exit code 3) when another process holds it.
#include "app/SingleInstance.h"

#include <QCoreApplication>
#include <QThread>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    quillora::app::SingleInstance instance(QString::fromLocal8Bit(argv[1]));
    if (instance.otherInstanceRunning()) {
        std::puts("refused");
        return 3;
    }
    std::puts("locked");
    std::fflush(stdout);
    QThread::sleep(60);
    return 0;
}
