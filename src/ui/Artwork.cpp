#include "ui/Artwork.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

namespace quillora::ui {

namespace {

const QColor darkGreen(18, 88, 52);
const QColor flashRed(192, 0, 0);

// A round emblem: a film frame with a play triangle, crossed by a quill.
void drawEmblem(QPainter& p, const QRectF& box)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = box.width();
    QRadialGradient disc(box.center() - QPointF(s * 0.15, s * 0.15), s * 0.7);
    disc.setColorAt(0, QColor(60, 170, 100));
    disc.setColorAt(1, darkGreen);
    p.setPen(QPen(QColor(8, 50, 28), std::max<qreal>(1.0, s / 24)));
    p.setBrush(disc);
    p.drawEllipse(box.adjusted(s * 0.03, s * 0.03, -s * 0.03, -s * 0.03));

    QPainterPath play;
    const QPointF c = box.center();
    play.moveTo(c.x() - s * 0.16, c.y() - s * 0.24);
    play.lineTo(c.x() + s * 0.26, c.y());
    play.lineTo(c.x() - s * 0.16, c.y() + s * 0.24);
    play.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawPath(play);

    // The quill: a red feather stroke from lower left to upper right.
    QPainterPath quill;
    quill.moveTo(box.left() + s * 0.18, box.bottom() - s * 0.14);
    quill.cubicTo(box.left() + s * 0.40, box.bottom() - s * 0.45, box.left() + s * 0.62,
                  box.top() + s * 0.20, box.right() - s * 0.12, box.top() + s * 0.10);
    quill.cubicTo(box.left() + s * 0.60, box.top() + s * 0.36, box.left() + s * 0.40,
                  box.bottom() - s * 0.32, box.left() + s * 0.18, box.bottom() - s * 0.14);
    p.setBrush(flashRed);
    p.setPen(QPen(QColor(120, 0, 0), std::max<qreal>(0.6, s / 48)));
    p.drawPath(quill);
    p.restore();
}

} // namespace

QImage drawAppIcon(int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    drawEmblem(p, QRectF(0, 0, size, size));
    return image;
}

QIcon appIcon()
{
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128})
        icon.addPixmap(QPixmap::fromImage(drawAppIcon(size)));
    return icon;
}

QImage drawSplashPicture(qreal devicePixelRatio)
{
    // Drawn in the picture's own 300 x 150 units at the screen's density, so that a dense
    // screen shows it sharp rather than enlarged.
    QImage image(QSize(300, 150) * devicePixelRatio, QImage::Format_RGB32);
    image.setDevicePixelRatio(devicePixelRatio);
    image.fill(Qt::white);
    QPainter p(&image);
    // Fine stripes on white, inside a dark green frame.
    p.setPen(QColor(232, 240, 235));
    for (int y = 0; y < 150; y += 3)
        p.drawLine(0, y, 299, y);
    p.setPen(QPen(darkGreen, 4));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRectF(2, 2, 296, 146));

    drawEmblem(p, QRectF(128, 10, 44, 44));

    p.setRenderHint(QPainter::TextAntialiasing);
    QFont title("Tahoma");
    title.setPixelSize(40);
    title.setBold(true);
    p.setFont(title);
    p.setPen(darkGreen);
    p.drawText(QRect(0, 54, 300, 48), Qt::AlignCenter, "Quillora");

    QFont subtitle("Tahoma");
    subtitle.setPixelSize(12);
    p.setFont(subtitle);
    p.setPen(flashRed);
    p.drawText(QRect(0, 104, 300, 20), Qt::AlignCenter, "Video to Flash Video Converter");
    return image;
}

} // namespace quillora::ui
