// Renders the application icon, drawn in code, to PNG files for the desktop's icon theme:
// OUT_DIR/NxN/apps/quillora.png for each size.
#include "platform/RuntimeDirNotice.h"
#include "ui/Artwork.h"

#include <QDir>
#include <QGuiApplication>

#include <cstdio>

int main(int argc, char** argv)
{
    quillora::platform::silenceRuntimeDirNotice();
    QGuiApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: render-icons OUT_DIR\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QString folder = QString("%1/%2x%2/apps").arg(out).arg(size);
        if (!QDir().mkpath(folder) ||
            !quillora::ui::drawAppIcon(size).save(folder + "/quillora.png")) {
            std::fprintf(stderr, "render-icons: cannot write %s\n", qPrintable(folder));
            return 1;
        }
    }
    return 0;
}
