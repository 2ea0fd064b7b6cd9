#include "app/SingleInstance.h"
#include "app/Startup.h"
#include "ui/Lifecycle.h"
#include "ui/MainWindow.h"
#include "ui/SplashWindow.h"

#include "../fakes/FakeNotifier.h"
#include "../fakes/ScriptedChoosers.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace quillora;

namespace {
struct EndCalled
{
    int code;
};

QString lockHolder()
{
    return qEnvironmentVariable("QUILLORA_TEST_BIN_DIR") + "/lock_holder";
}
} // namespace

class TestStartup : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    FakeNotifier notifier;
    ScriptedChoosers choosers;

    QString lockPath() const { return dir.path() + "/quillora.lock"; }

private slots:
    void init()
    {
        notifier.shown.clear();
        ui::setEndHandler([](int code) { throw EndCalled{code}; });
    }

    void normalStart()
    {
        app::SingleInstance instance(lockPath());
        ui::MainWindow window(notifier, choosers, "/app");
        QList<int> steps;
        QElapsedTimer clock;
        qint64 splashMs = -1;
        bool hourglassOnBoth = false;
        bool mainIgnoredClick = false;
        ui::SplashWindow* splash = nullptr;
        QTimer::singleShot(500, [&] {
            splash = ui::frmSplash;
            hourglassOnBoth = splash && splash->cursor().shape() == Qt::WaitCursor &&
                              window.cursor().shape() == Qt::WaitCursor;
            // The main window is blocked by the modal splash; the splash ignores keys.
            QTest::keyClick(splash, Qt::Key_Escape);
            mainIgnoredClick =
                ui::frmSplash != nullptr && QApplication::activeModalWidget() == splash;
            QCOMPARE(splash->size(), QSize(301, 152));
            QCOMPARE(splash->findChild<QLabel*>("Image1")->geometry(), QRect(0, 0, 302, 152));
            QVERIFY(splash->windowFlags() & Qt::FramelessWindowHint);
            QCOMPARE(splash->windowType(), Qt::SplashScreen);
            QCOMPARE(splash->palette().color(QPalette::Window), QColor(Qt::black));
        });
        app::Form_Load(window, notifier, instance, [&](int step) {
            steps << step;
            if (step == 10)
                clock.start();
            if (step == 11)
                splashMs = clock.elapsed();
        });

        QCOMPARE(steps, QList<int>({2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
        QVERIFY(hourglassOnBoth);
        QVERIFY(mainIgnoredClick);
        QVERIFY2(splashMs >= 1800 && splashMs < 4000, qPrintable(QString::number(splashMs)));
        QCOMPARE(ui::frmSplash, nullptr);
        QVERIFY(window.isVisible());
        QCOMPARE(window.cursor().shape(), Qt::ArrowCursor);
        QCOMPARE(window.EncodeOptions, " -b 468kb/s -r 25 -s 240x180 -ar 22050Hz -ab 48 -ac 1 ");
        QCOMPARE(window.findChild<QComboBox*>("cmbAudioChannels")->currentText(), "Mono");
        QVERIFY(notifier.shown.isEmpty());
    }

    void secondInstanceRefused()
    {
        app::SingleInstance first(lockPath());
        QVERIFY(!first.otherInstanceRunning());
        app::SingleInstance second(lockPath());
        ui::MainWindow window(notifier, choosers, "/app");
        QList<int> steps;
        try {
            app::Form_Load(window, notifier, second, [&](int step) { steps << step; });
            QFAIL("the second instance went on");
        } catch (const EndCalled& end) {
            QVERIFY(end.code != 0);
        }
        QCOMPARE(steps, QList<int>{2});
        QVERIFY(!window.isVisible());
        QCOMPARE(notifier.texts(), QStringList{"THIS SOFTWARE IS ALREADY OPEN!"});
        QCOMPARE(notifier.shown[0].title, "Error");
        QCOMPARE(notifier.shown[0].icon, process::Icon::Critical);
        QCOMPARE(process::MsgAnswer, "1");
    }

    void lastResortReport_data()
    {
        QTest::addColumn<int>("failingStep");
        QTest::addColumn<bool>("numbered");
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("description");
        QTest::addColumn<QString>("text");
        QTest::newRow("negative number")
            << 5 << true << -2147024809 << "Invalid argument"
            << "INTERNAL ERROR OCCURED - ERROR NUMBER: -2147024809 - INVALID ARGUMENT. PLEASE "
               "CONTACT SUPPORT.";
        QTest::newRow("empty description")
            << 3 << true << 91 << ""
            << "INTERNAL ERROR OCCURED - ERROR NUMBER: 91 - . PLEASE CONTACT SUPPORT.";
        QTest::newRow("plain exception during splash")
            << 10 << false << 0 << "Splash picture missing"
            << "INTERNAL ERROR OCCURED - ERROR NUMBER: 51 - SPLASH PICTURE MISSING. PLEASE "
               "CONTACT SUPPORT.";
    }

    void lastResortReport()
    {
        QFETCH(int, failingStep);
        QFETCH(bool, numbered);
        QFETCH(int, number);
        QFETCH(QString, description);
        QFETCH(QString, text);
        app::SingleInstance instance(lockPath());
        ui::MainWindow window(notifier, choosers, "/app");
        try {
            app::Form_Load(window, notifier, instance, [&](int step) {
                if (step != failingStep)
                    return;
                if (numbered)
                    throw app::NumberedError(number, description.toStdString());
                throw std::runtime_error(description.toStdString());
            });
            QFAIL("start-up went on after an error");
        } catch (const EndCalled& end) {
            QVERIFY(end.code != 0);
        }
        QCOMPARE(notifier.texts(), QStringList{text});
        QCOMPARE(notifier.shown[0].title, "Error");
        delete ui::frmSplash;
        ui::frmSplash = nullptr;
    }

    // An error inside a handler that selecting a default sets off reaches the report too.
    void errorInsideAListHandler()
    {
        app::SingleInstance instance(lockPath());
        ui::MainWindow window(notifier, choosers, "/app");
        auto* list = window.findChild<QComboBox*>("cmbAudioBitrate");
        QObject::connect(list, &QComboBox::currentIndexChanged,
                         [](int) { throw app::NumberedError(380, "Invalid property value"); });
        try {
            app::Form_Load(window, notifier, instance);
            QFAIL("start-up went on after an error");
        } catch (const EndCalled&) {
        }
        QCOMPARE(notifier.texts(), QStringList{"INTERNAL ERROR OCCURED - ERROR NUMBER: 380 - "
                                               "INVALID PROPERTY VALUE. PLEASE CONTACT SUPPORT."});
    }

    void lockBetweenRealProcesses()
    {
        QProcess holder;
        holder.start(lockHolder(), {lockPath()});
        QVERIFY(holder.waitForReadyRead(10000));
        QCOMPARE(holder.readAll().trimmed(), "locked");

        app::SingleInstance me(lockPath());
        QVERIFY(me.otherInstanceRunning());

        // A killed instance leaves its lock file behind; it must not block the next start.
        holder.kill();
        holder.waitForFinished();
        QVERIFY(!me.otherInstanceRunning());
    }

    void simultaneousStartsLeaveOne()
    {
        QList<QProcess*> starts;
        for (int i = 0; i < 4; ++i) {
            auto* p = new QProcess(this);
            starts << p;
        }
        for (QProcess* p : starts)
            p->start(lockHolder(), {lockPath()});
        int locked = 0, refused = 0;
        for (QProcess* p : starts) {
            QVERIFY(p->waitForReadyRead(10000));
            const QByteArray said = p->readAll().trimmed();
            locked += said == "locked";
            refused += said == "refused";
        }
        QCOMPARE(locked, 1);
        QCOMPARE(refused, 3);
        for (QProcess* p : starts) {
            p->kill();
            p->waitForFinished();
        }
        qDeleteAll(starts);
    }
};

QTEST_MAIN(TestStartup)
#include "tst_Startup.moc"
