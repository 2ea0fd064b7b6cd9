// Renders the application icon, drawn in code, to PNG files for the desktop's icon theme:
// OUT_DIR/NxN/apps/quillora.png for each size; and with ICO_FILE, that icon file for the Windows
// programs, with every size in one file.
#include "platform/RuntimeDirNotice.h"
#include "ui/Artwork.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QtEndian>

#include <cstdio>

namespace {

// An icon file with a PNG picture for each size (which Windows has read since Vista): a
// header, a directory entry a picture, then the pictures.
bool writeIco(const QString& path, const QList<QImage>& images)
{
    QList<QByteArray> pngs;
    for (const QImage& image : images) {
        QByteArray png;
        QBuffer buffer(&png);
        if (!buffer.open(QIODevice::WriteOnly) || !image.save(&buffer, "PNG"))
            return false;
        pngs << png;
    }
    QByteArray file;
    const auto add16 = [&](quint16 value) {
        const quint16 le = qToLittleEndian(value);
        file.append(reinterpret_cast<const char*>(&le), 2);
    };
    const auto add32 = [&](quint32 value) {
        const quint32 le = qToLittleEndian(value);
        file.append(reinterpret_cast<const char*>(&le), 4);
    };
    add16(0);
    add16(1); // an icon, not a cursor
    add16(quint16(images.size()));
    quint32 offset = 6 + 16 * quint32(images.size());
    for (qsizetype i = 0; i < images.size(); ++i) {
        // 256 is written as 0.
        file.append(char(images[i].width() & 0xff));
        file.append(char(images[i].height() & 0xff));
        file.append(char(0)); // no palette
        file.append(char(0));
        add16(1);  // colour planes
        add16(32); // bits a pixel
        add32(quint32(pngs[i].size()));
        add32(offset);
        offset += quint32(pngs[i].size());
    }
    for (const QByteArray& png : pngs)
        file += png;
    QFile out(path);
    return out.open(QIODevice::WriteOnly) && out.write(file) == file.size();
}

} // namespace

int main(int argc, char** argv)
{
    quillora::platform::silenceRuntimeDirNotice();
    QGuiApplication application(argc, argv);
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: render-icons OUT_DIR [ICO_FILE]\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    QList<QImage> windowsSizes;
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QString folder = QString("%1/%2x%2/apps").arg(out).arg(size);
        const QImage icon = quillora::ui::drawAppIcon(size);
        if (size != 22 && size != 128)
            windowsSizes << icon;
        if (!QDir().mkpath(folder) || !icon.save(folder + "/quillora.png")) {
            std::fprintf(stderr, "render-icons: cannot write %s\n", qPrintable(folder));
            return 1;
        }
    }
    if (argc == 3 && !writeIco(QString::fromLocal8Bit(argv[2]), windowsSizes)) {
        std::fprintf(stderr, "render-icons: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
