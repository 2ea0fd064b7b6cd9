// The main window's classic look, drawn off screen: colours of faces, frames and boxes, a
// caption that really draws bold, and a splash picture drawn at the screen's density.
#include "ui/Artwork.h"
#include "ui/ClassicLook.h"
#include "ui/MainWindow.h"
#include "ui/SplashWindow.h"

#include "../fakes/FakeNotifier.h"
#include "../fakes/ScriptedChoosers.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QTest>

using namespace quillora;

namespace {
// The darkness of text drawn in a font, black on white, summed over its pixels.
double ink(const QFont& font, const QString& text)
{
    QImage image(400, 60, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setFont(font);
    painter.setPen(Qt::black);
    painter.drawText(10, 40, text);
    painter.end();
    double sum = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            sum += 255 - qGray(image.pixel(x, y));
    return sum / 255;
}

QColor mostCommonColour(const QImage& image)
{
    QHash<QRgb, int> counts;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            ++counts[image.pixel(x, y)];
    QRgb best = 0;
    for (auto it = counts.begin(); it != counts.end(); ++it)
        if (it.value() > counts.value(best))
            best = it.key();
    return QColor(best);
}
} // namespace

class TestClassicLook : public QObject
{
    Q_OBJECT

    FakeNotifier notifier;
    ScriptedChoosers choosers;
    ui::MainWindow* window = nullptr;

    template <typename T> T* control(const char* name) { return window->findChild<T*>(name); }

private slots:
    void init()
    {
        window = new ui::MainWindow(notifier, choosers, "/app");
        window->fillSettingLists();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
    }
    void cleanup() { delete window; }

    void encodeCaptionReallyDrawsBold()
    {
        const QFont font = control<QPushButton>("cmdEncode")->font();
        QFont regular = font;
        regular.setBold(false);
        const double bold = ink(font, "Start Encoding");
        const double plain = ink(regular, "Start Encoding");
        QVERIFY2(bold > 1.25 * plain, qPrintable(QString("%1 against %2").arg(bold).arg(plain)));
    }

    void everyControlHasTheClassicStyle()
    {
        QCOMPARE(window->style(), ui::classicStyle());
        for (QWidget* widget : window->findChildren<QWidget*>())
            QVERIFY2(widget->style() == ui::classicStyle(),
                     qPrintable(widget->objectName() + " " + widget->metaObject()->className()));
        // The application's own style stays with dialogs and message boxes.
        QVERIFY(QApplication::style() != ui::classicStyle());
    }

    void colours_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QRect>("area"); // inside the control, clear of its edges and text
        QTest::addColumn<QColor>("colour");
        const QColor white(255, 255, 255), face(224, 224, 224);
        QTest::newRow("input face") << "cmdInput" << QRect(4, 4, 8, 20) << face;
        QTest::newRow("output face") << "cmdOutput" << QRect(4, 4, 8, 20) << face;
        QTest::newRow("encode face") << "cmdEncode" << QRect(4, 4, 30, 24) << face;
        QTest::newRow("frame interior") << "Frame3" << QRect(200, 60, 150, 30) << white;
        QTest::newRow("no audio box") << "chkDisableAudio" << QRect(0, 0, 85, 21) << white;
        QTest::newRow("de-interlace box") << "chkDeInterlace" << QRect(0, 0, 89, 21)
                                          << QApplication::palette().color(QPalette::Window);
        QTest::newRow("list field") << "cmbAudioBitrate" << QRect(3, 3, 45, 15) << white;
        QTest::newRow("display field") << "lblOutput" << QRect(2, 2, 250, 17) << face;
    }

    void colours()
    {
        QFETCH(QString, name);
        QFETCH(QRect, area);
        QFETCH(QColor, colour);
        QWidget* widget = control<QWidget>(qPrintable(name));
        const QImage image = widget->grab().toImage().copy(area);
        QCOMPARE(mostCommonColour(image), colour);
    }

    void buttonsHaveTheRaisedEdge()
    {
        for (const char* name : {"cmdInput", "cmdOutput", "cmdEncode"}) {
            const QImage image = control<QPushButton>(name)->grab().toImage();
            const int midX = image.width() / 2, midY = image.height() / 2;
            QCOMPARE(QColor(image.pixel(0, midY)), QColor(255, 255, 255));
            QCOMPARE(QColor(image.pixel(midX, 0)), QColor(255, 255, 255));
            QCOMPARE(QColor(image.pixel(image.width() - 1, midY)), QColor(64, 64, 64));
            QCOMPARE(QColor(image.pixel(image.width() - 2, midY)), QColor(128, 128, 128));
            QCOMPARE(QColor(image.pixel(midX, image.height() - 1)), QColor(64, 64, 64));
        }
    }

    void frameCaptionStandsOnTheBorder()
    {
        // The caption's row holds the border line to the right of the caption.
        auto* frame = control<QGroupBox>("Frame2");
        const QImage image = frame->grab().toImage();
        int border = -1;
        for (int y = 0; y < 20 && border < 0; ++y)
            if (QColor(image.pixel(image.width() - 6, y)) == QColor(128, 128, 128))
                border = y;
        QVERIFY(border > 0 && border < 10);
        int red = 0;
        for (int x = 0; x < 150; ++x)
            for (int y = 0; y < border + 6; ++y)
                if (const QColor c(image.pixel(x, y)); c.red() > 150 && c.green() < 60)
                    red += y < border ? 1 : 1000;
        QVERIFY2(red > 1000 && red % 1000 > 0, "the caption does not straddle the border line");
    }

    void splashPictureAtTheDevicePixelRatio()
    {
        const QImage dense = ui::drawSplashPicture(2.0);
        QCOMPARE(dense.size(), QSize(600, 300));
        QCOMPARE(dense.devicePixelRatio(), 2.0);
        QCOMPARE(ui::drawSplashPicture().size(), QSize(300, 150));
        ui::SplashWindow splash(window);
        splash.show();
        QVERIFY(QTest::qWaitForWindowExposed(&splash));
        QCOMPARE(splash.findChild<QLabel*>("Image1")->pixmap().devicePixelRatio(),
                 splash.devicePixelRatioF());
    }
};

QTEST_MAIN(TestClassicLook)
#include "tst_ClassicLook.moc"
