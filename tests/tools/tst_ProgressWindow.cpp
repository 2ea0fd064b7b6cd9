// The encoder's progress window and the encode behind it, without a real encode.
#include "EncodeWindow.h"
#include "ProgressWindow.h"

#include <QElapsedTimer>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <chrono>
#include <thread>

using namespace quillora::encoder;

namespace {

// Records how the encode ended, as the user would have been told.
struct RecordedNotice
{
    int shown = 0;
    Outcome outcome;
    OutcomeNotice notice()
    {
        return [this](QWidget*, const Outcome& o) {
            ++shown;
            outcome = o;
        };
    }
};

// An encode that runs until it is cancelled, and then stops as the real one does.
EncodeJob runUntilCancelled(const std::atomic<bool>& cancel)
{
    return [&cancel](const std::function<void(double, double)>& progress) {
        for (int i = 0; !cancel; ++i) {
            progress(i * 0.04, 60);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        throw Cancelled();
    };
}

// Counts the calls queued to a window from other threads.
struct MetaCallCounter : QObject
{
    int calls = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::MetaCall)
            ++calls;
        return false;
    }
};

QPushButton* cancelButton(QWidget& window)
{
    for (auto* button : window.findChildren<QPushButton*>())
        if (button->text() == "&Cancel")
            return button;
    return nullptr;
}

} // namespace

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
        // A damaged source that declares ten thousand years.
        QTest::newRow("declared length beyond any clock")
            << 1.0 << 1.0 << 3.2e11 << "Elapsed 0:00:01 - 0% - remaining 99999:00:00 - speed 1.0x";
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

    // A Cancel button in sight, not only the close box; it asks like the close box does.
    void cancelButtonAsksBeforeCancelling()
    {
        std::atomic<bool> cancel{false};
        QList<bool> answers{false, true};
        ProgressWindow window("in.avi", "out.flv", cancel,
                              [&](QWidget*) { return answers.takeFirst(); });
        window.show();
        QPushButton* button = cancelButton(window);
        QVERIFY(button);
        QVERIFY(button->isVisible());
        QTest::mouseClick(button, Qt::LeftButton);
        QVERIFY(!cancel);
        QTest::mouseClick(button, Qt::LeftButton);
        QVERIFY(cancel);
        QVERIFY(answers.isEmpty());
        QVERIFY(window.isVisible());
    }

    // After a cancel the window says so, and that nothing was written, before the encoder
    // ends with its failure code.
    void cancelledEncodeSaysNothingWasWritten()
    {
        std::atomic<bool> cancel{false};
        ProgressWindow window("in.avi", "out.flv", cancel, [](QWidget*) { return true; });
        RecordedNotice recorded;
        QTimer::singleShot(100, &window, [&window] { window.close(); });
        QVERIFY_THROWS_EXCEPTION(
            Cancelled, encodeInWindow(window, runUntilCancelled(cancel), recorded.notice()));
        QCOMPARE(recorded.shown, 1);
        QVERIFY(recorded.outcome.cancelled);
    }

    void failureIsShown()
    {
        std::atomic<bool> cancel{false};
        ProgressWindow window("in.avi", "out.flv", cancel);
        RecordedNotice recorded;
        QVERIFY_THROWS_EXCEPTION(
            EncodeError, encodeInWindow(
                             window, [](const auto&) { throw EncodeError("the disk is full"); },
                             recorded.notice()));
        QCOMPARE(recorded.shown, 1);
        QCOMPARE(recorded.outcome.message, std::string("the disk is full"));
    }

    void noticeTexts_data()
    {
        QTest::addColumn<bool>("cancelled");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("text");
        QTest::newRow("cancelled") << true << "the encode was cancelled; nothing was written"
                                   << "The encode was cancelled. Nothing was written.";
        QTest::newRow("failed") << false << "the source ends early (2 of 6 seconds)"
                                << "The encode failed: the source ends early (2 of 6 seconds).";
    }

    void noticeTexts()
    {
        QFETCH(bool, cancelled);
        QFETCH(QString, message);
        QFETCH(QString, text);
        QCOMPARE(noticeText({1, message.toStdString(), cancelled}), text);
    }

    // However often the encode reports, the window gets a few updates a second, not one queued
    // call per packet.
    void progressIsThrottled()
    {
        std::atomic<bool> cancel{false};
        ProgressWindow window("in.avi", "out.flv", cancel);
        MetaCallCounter counter;
        window.installEventFilter(&counter);
        QElapsedTimer clock;
        clock.start();
        encodeInWindow(window, [](const auto& progress) {
            for (int i = 0; i < 200000; ++i)
                progress(i * 0.001, 200);
        });
        const qint64 elapsed = clock.elapsed();
        QVERIFY2(counter.calls >= 2, "no progress reached the window");
        QVERIFY2(counter.calls <= elapsed / 100 + 3,
                 qPrintable(QString("%1 updates in %2 ms").arg(counter.calls).arg(elapsed)));
    }

    void successShowsNothing()
    {
        std::atomic<bool> cancel{false};
        ProgressWindow window("in.avi", "out.flv", cancel);
        RecordedNotice recorded;
        encodeInWindow(
            window, [](const auto& progress) { progress(1, 1); }, recorded.notice());
        QCOMPARE(recorded.shown, 0);
        QVERIFY(window.close());
    }
};

QTEST_MAIN(TestProgressWindow)
#include "tst_ProgressWindow.moc"
