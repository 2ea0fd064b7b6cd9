#include "ProgressWindow.h"

#include <QTest>

using namespace quillora::encoder;

class TestProgressWindow : public QObject
{
    Q_OBJECT

private slots:
    void statusLine_data()
    {
        QTest::addColumn<double>("elapsed");
        QTest::addColumn<double>("done");
        QTest::addColumn<double>("total");
        QTest::addColumn<QString>("text");
        QTest::newRow("a quarter")
            << 10.0 << 30.0 << 120.0 << "Elapsed 0:00:10 - 25% - remaining 0:00:30 - speed 3.0x";
        QTest::newRow("long source") << 125.0 << 3600.0 << 7200.0
                                     << "Elapsed 0:02:05 - 50% - remaining 0:02:05 - speed 28.8x";
        QTest::newRow("length unknown") << 4.0 << 2.0 << 0.0 << "Elapsed 0:00:04 - speed 0.5x";
        QTest::newRow("at the start")
            << 0.0 << 0.0 << 60.0 << "Elapsed 0:00:00 - 0% - remaining 0:00:00 - speed 0.0x";
        QTest::newRow("past the declared end")
            << 5.0 << 70.0 << 60.0 << "Elapsed 0:00:05 - 100% - remaining 0:00:00 - speed 14.0x";
    }

    void statusLine()
    {
        QFETCH(double, elapsed);
        QFETCH(double, done);
        QFETCH(double, total);
        QFETCH(QString, text);
        QCOMPARE(progressText(elapsed, done, total), text);
    }

    // Closing asks first; only a yes cancels, and the window stays until the encode stopped.
    void closeAsksBeforeCancelling()
    {
        std::atomic<bool> cancel{false};
        QList<bool> answers{false, true};
        int asked = 0;
        ProgressWindow window("in.avi", "out.flv", cancel, [&](QWidget*) {
            ++asked;
            return answers.takeFirst();
        });
        window.show();
        QVERIFY(!window.close());
        QVERIFY(!cancel);
        QVERIFY(!window.close());
        QVERIFY(cancel);
        QVERIFY(window.isVisible());
        window.setFinished();
        QVERIFY(window.close());
        QCOMPARE(asked, 2);
    }
};

QTEST_MAIN(TestProgressWindow)
#include "tst_ProgressWindow.moc"
