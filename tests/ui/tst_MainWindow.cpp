#include "ui/Choosers.h"
#include "ui/Lifecycle.h"
#include "ui/MainWindow.h"

#include "../fakes/EndRecorder.h"
#include "../fakes/FakeNotifier.h"
#include "../fakes/FakeTools.h"
#include "../fakes/ScriptedChoosers.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

using namespace quillora;
using namespace quillora::ui;

class TestMainWindow : public QObject
{
    Q_OBJECT

    FakeNotifier* notifier = nullptr;
    ScriptedChoosers* choosers = nullptr;
    MainWindow* window = nullptr;
    std::unique_ptr<FakeAppDir> app;
    std::unique_ptr<EndRecorder> ends;

    template <typename T> T* control(const char* name)
    {
        T* widget = window->findChild<T*>(name);
        if (!widget)
            qFatal("no control %s", name);
        return widget;
    }
    QString commandText() { return control<QPlainTextEdit>("txtApp")->toPlainText(); }
    void setSelections(const QString& source, const QString& folder, const QString& name)
    {
        control<QLabel>("lblInput")->setText(source);
        control<QLabel>("lblOutput")->setText(folder);
        control<QLineEdit>("txtFileTitle")->setText(name);
    }

private slots:
    void init()
    {
        app = std::make_unique<FakeAppDir>();
        notifier = new FakeNotifier;
        choosers = new ScriptedChoosers;
        window = new MainWindow(*notifier, *choosers, app->path());
        window->fillSettingLists();
        window->BuildEncodeOptions();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window));
        ends = std::make_unique<EndRecorder>();
    }

    void cleanup()
    {
        delete window;
        delete choosers;
        delete notifier;
        app.reset();
        ends.reset();
    }

    void windowProperties()
    {
        QCOMPARE(window->windowTitle(), "Quillora");
        QCOMPARE(window->size(), QSize(400, 367));
        QCOMPARE(window->minimumSize(), window->maximumSize());
        QVERIFY(!(window->windowFlags() & Qt::WindowMinimizeButtonHint));
        QVERIFY(!(window->windowFlags() & Qt::WindowMaximizeButtonHint));
        QCOMPARE(window->palette().color(QPalette::Window), QColor(255, 255, 255));
        QVERIFY(QFontInfo(control<QPushButton>("cmdEncode")->font()).bold());
        QCOMPARE(control<QPushButton>("cmdEncode")->font().pointSizeF(), 9.75);
        QCOMPARE(window->font().pointSizeF(), 8.25);
        QCOMPARE(window->findChildren<QWidget*>().size() >= 26, true);
    }

    // Every control where the layout table puts it, in its frame, at one pixel to 15 twips.
    void layout_data()
    {
        QTest::addColumn<QString>("frame");
        QTest::addColumn<QRect>("twips");
        QFile table(qEnvironmentVariable("QUILLORA_SOURCE_DIR") + "/tests/ui/window-layout.txt");
        QVERIFY(table.open(QIODevice::ReadOnly | QIODevice::Text));
        while (!table.atEnd()) {
            const QString line = QString::fromUtf8(table.readLine()).trimmed();
            if (line.isEmpty() || line.startsWith('#'))
                continue;
            const QStringList f = line.split(' ', Qt::SkipEmptyParts);
            QCOMPARE(f.size(), 7);
            QTest::newRow(qPrintable(f[0]))
                << (f[2] == "-" ? QString() : f[2])
                << QRect(f[3].toInt(), f[4].toInt(), f[5].toInt(), f[6].toInt());
        }
    }

    void layout()
    {
        QFETCH(QString, frame);
        QFETCH(QRect, twips);
        const auto* widget = control<QWidget>(QTest::currentDataTag());
        const QWidget* parent =
            frame.isEmpty() ? static_cast<QWidget*>(window) : control<QWidget>(qPrintable(frame));
        QCOMPARE(widget->parentWidget(), parent);
        const auto pixels = [](int t) { return qRound(t / 15.0); };
        QCOMPARE(widget->geometry(), QRect(pixels(twips.x()), pixels(twips.y()),
                                           pixels(twips.width()), pixels(twips.height())));
    }

    void tabOrderAndFocus()
    {
        const QStringList expected{"cmdInput",         "cmdOutput",       "txtFileTitle",
                                   "cmbVideoWindow",   "cmbVideoBitrate", "chkDeInterlace",
                                   "cmbAudioSampling", "cmbAudioBitrate", "cmbAudioChannels",
                                   "chkDisableAudio",  "cmdEncode",       "cmdInput"};
        control<QPushButton>("cmdInput")->setFocus();
        QStringList seen{QApplication::focusWidget()->objectName()};
        for (int i = 1; i < expected.size(); ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            seen << QApplication::focusWidget()->objectName();
        }
        QCOMPARE(seen, expected);
        for (const char* name : {"lblInput", "lblOutput", "txtApp", "Frame1", "Label1"})
            QCOMPARE(window->findChild<QWidget*>(name)->focusPolicy(), Qt::NoFocus);
    }

    void listsAndDefaults_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<QString>("selected");
        QTest::newRow("window") << "cmbVideoWindow" << QStringList{"160x120", "240x180", "320x240",
                                                                   "480x360", "640x480", "800x600"}
                                << "240x180";
        QTest::newRow("bitrate") << "cmbVideoBitrate"
                                 << QStringList{"160", "225", "320", "468", "768", "1600"} << "468";
        QTest::newRow("sampling") << "cmbAudioSampling" << QStringList{"11025", "22050", "44100"}
                                  << "22050";
        QTest::newRow("audio bitrate")
            << "cmbAudioBitrate" << QStringList{"24", "32", "48", "56", "64", "96", "128"} << "48";
        QTest::newRow("channels") << "cmbAudioChannels" << QStringList{"Stereo", "Mono"} << "Mono";
    }

    void listsAndDefaults()
    {
        QFETCH(QString, name);
        QFETCH(QStringList, entries);
        QFETCH(QString, selected);
        auto* list = control<QComboBox>(qPrintable(name));
        QStringList items;
        for (int i = 0; i < list->count(); ++i)
            items << list->itemText(i);
        QCOMPARE(items, entries);
        QCOMPARE(list->currentText(), selected);
        QVERIFY(!list->isEditable());
        QCOMPARE(window->EncodeOptions, " -b 468kb/s -r 25 -s 240x180 -ar 22050Hz -ab 48 -ac 1 ");
    }

    void eachSettingReachesTheCommandLine_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("index"); // -1: tick the box
        QTest::addColumn<QString>("fragment");
        QTest::newRow("window") << "cmbVideoWindow" << 5 << " -s 800x600 ";
        QTest::newRow("bitrate") << "cmbVideoBitrate" << 0 << " -b 160kb/s ";
        QTest::newRow("sampling") << "cmbAudioSampling" << 2 << " -ar 44100Hz ";
        QTest::newRow("audio bitrate") << "cmbAudioBitrate" << 4 << " -ab 64 ";
        QTest::newRow("channels") << "cmbAudioChannels" << 0 << " -ac 2 ";
        QTest::newRow("de-interlace") << "chkDeInterlace" << -1 << "240x180  -deinterlace -ar";
        QTest::newRow("no audio") << "chkDisableAudio" << -1 << " -s 240x180 -an \"";
    }

    void eachSettingReachesTheCommandLine()
    {
        QFETCH(QString, name);
        QFETCH(int, index);
        QFETCH(QString, fragment);
        // A failed encode leaves the encoder's command in the field.
        qputenv("FAKE_FFMPEG_EXIT", "1");
        if (index >= 0)
            control<QComboBox>(qPrintable(name))->setCurrentIndex(index);
        else
            control<QCheckBox>(qPrintable(name))->setChecked(true);
        setSelections("/v/a.avi", "/o/", "a.flv");
        QTest::mouseClick(control<QPushButton>("cmdEncode"), Qt::LeftButton);
        QVERIFY2(commandText().contains(fragment), qPrintable(commandText()));
    }

    void disableAudioRestoresAudioPart()
    {
        control<QComboBox>("cmbAudioBitrate")->setCurrentText("96");
        const QString before = window->EncodeOptions;
        auto* box = control<QCheckBox>("chkDisableAudio");
        box->setChecked(true);
        QCOMPARE(window->EncodeOptions, " -b 468kb/s -r 25 -s 240x180 -an ");
        QVERIFY(control<QComboBox>("cmbAudioBitrate")->isEnabled());
        box->setChecked(false);
        QCOMPARE(window->EncodeOptions, before);
        // A greyed box counts as not ticked.
        box->setTristate(true);
        box->setCheckState(Qt::PartiallyChecked);
        QCOMPARE(window->EncodeOptions, before);
    }

    void failedChecksFocusTheirControl_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("focus");
        QTest::newRow("nothing") << ""
                                 << ""
                                 << ""
                                 << "NO FILE TO ENCODE!"
                                 << "cmdInput";
        QTest::newRow("no folder") << "/v/a.avi"
                                   << ""
                                   << "a.flv"
                                   << "NO OUTPUT FOLDER MENTIONED!"
                                   << "cmdOutput";
        QTest::newRow("no name") << "/v/a.avi"
                                 << "/o/"
                                 << ""
                                 << "OUTPUT FILE NAME MISSING!"
                                 << "txtFileTitle";
        QTest::newRow("bad name") << "/v/a.avi"
                                  << "/o/"
                                  << "a.mp4"
                                  << "INVALID OUTPUT FILE NAME! MUST BE A .FLV FILE."
                                  << "txtFileTitle";
    }

    void failedChecksFocusTheirControl()
    {
        QFETCH(QString, source);
        QFETCH(QString, folder);
        QFETCH(QString, name);
        QFETCH(QString, message);
        QFETCH(QString, focus);
        control<QPlainTextEdit>("txtApp")->setPlainText("earlier");
        setSelections(source, folder, name);
        control<QComboBox>("cmbVideoBitrate")->setFocus();
        QTest::mouseClick(control<QPushButton>("cmdEncode"), Qt::LeftButton);
        QCOMPARE(notifier->texts(), QStringList{message});
        QCOMPARE(QApplication::focusWidget()->objectName(), focus);
        QCOMPARE(commandText(), "earlier");
        QVERIFY(control<QPushButton>("cmdEncode")->isEnabled());
        QVERIFY(app->runs().isEmpty());
    }

    void accessKeysPressButtons()
    {
        choosers->folders << "/somewhere";
        control<QLineEdit>("txtFileTitle")->setFocus();
        QTest::keyClick(window, Qt::Key_O, Qt::AltModifier);
        // Access keys press their button with a short animation.
        QTRY_COMPARE(control<QLabel>("lblOutput")->text(), "/somewhere/");
        QTest::keyClick(window, Qt::Key_I, Qt::AltModifier);
        QTRY_COMPARE(choosers->titles,
                     QStringList({"Select Your Output Folder", "Open Video File to Encode"}));
        QTest::keyClick(window, Qt::Key_E, Qt::AltModifier);
        QTRY_COMPARE(notifier->texts(), QStringList{"NO FILE TO ENCODE!"});
    }

    void sameCommandTwiceAndCommandFieldHidden()
    {
        setSelections("/v/my clip.avi", "/o/", "my clip.flv");
        auto* encode = control<QPushButton>("cmdEncode");
        QTest::mouseClick(encode, Qt::LeftButton);
        const QString first = commandText();
        QTest::mouseClick(encode, Qt::LeftButton);
        QCOMPARE(commandText(), first);
        QCOMPARE(first, app->path() + "/flvtool2 -U \"/o/my clip.flv\" \"/o/my clip.flv\"");
        QCOMPARE(app->runs().size(), 4);
        QCOMPARE(app->runs()[0], app->runs()[2]);
        QVERIFY(!control<QPlainTextEdit>("txtApp")->isVisible());
        QCOMPARE(notifier->texts(), QStringList({"FLV ENCODED!", "METADATA INJECTED!",
                                                 "FLV ENCODED!", "METADATA INJECTED!"}));
    }

    void windowIgnoresInputButPaintsWhileToolRuns()
    {
        qputenv("FAKE_TOOL_SLEEP_MS", "600");
        setSelections("/v/a.avi", "/o/", "a.flv");
        auto* encode = control<QPushButton>("cmdEncode");
        bool disabledDuringRun = false;
        bool looksDisabled = false;
        int repaintsHandled = 0;
        bool closeAsked = false;
        QTimer::singleShot(150, [&] {
            disabledDuringRun = !encode->isEnabled();
            const QPalette& p = encode->palette();
            looksDisabled = p.color(QPalette::Disabled, QPalette::ButtonText) !=
                            p.color(QPalette::Active, QPalette::ButtonText);
            // A click, keys and a close request during the run must have no effect.
            QTest::mouseClick(control<QPushButton>("cmdOutput"), Qt::LeftButton);
            QTest::keyClick(window, Qt::Key_I, Qt::AltModifier);
            closeAsked = !window->close();
            window->repaint();
            ++repaintsHandled;
        });
        QTest::mouseClick(encode, Qt::LeftButton);
        QVERIFY(disabledDuringRun);
        QVERIFY(looksDisabled);
        QCOMPARE(repaintsHandled, 1);
        QTest::qWait(300);
        QVERIFY(choosers->titles.isEmpty());
        QVERIFY(closeAsked);
        QCOMPARE(notifier->texts(), QStringList({"FLV ENCODED!", "METADATA INJECTED!"}));
        QVERIFY(encode->isEnabled());
        QVERIFY(window->isVisible());
    }

    // A text dropped or typed through an input method on the file name during the encode
    // changes nothing, so the metadata step names the file that was encoded.
    void dropDuringRunChangesNothing()
    {
        qputenv("FAKE_TOOL_SLEEP_MS", "600");
        setSelections("/v/a.avi", "/o/", "a.flv");
        auto* title = control<QLineEdit>("txtFileTitle");
        QMimeData text;
        text.setText("other");
        const auto dropOn = [&](QLineEdit* target) {
            const QPoint at = target->rect().center();
            QDragEnterEvent enter(at, Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(target, &enter);
            QDragMoveEvent move(at, Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(target, &move);
            QDropEvent drop(QPointF(at), Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(target, &drop);
            QInputMethodEvent typed;
            typed.setCommitString("x");
            QApplication::sendEvent(target, &typed);
        };
        bool droppedDuringRun = false;
        QTimer::singleShot(150, [&] {
            droppedDuringRun = !control<QPushButton>("cmdEncode")->isEnabled();
            dropOn(title);
        });
        QTest::mouseClick(control<QPushButton>("cmdEncode"), Qt::LeftButton);
        QVERIFY(droppedDuringRun);

        QCOMPARE(title->text(), "a.flv");
        const auto runs = app->runs();
        QCOMPARE(runs.size(), 2);
        QCOMPARE(runs[0].last(), "/o/a.flv");
        QCOMPARE(runs[1], QStringList({"flvtool2", "-U", "/o/a.flv", "/o/a.flv"}));
        QCOMPARE(notifier->texts(), QStringList({"FLV ENCODED!", "METADATA INJECTED!"}));
        // Once the run is over, the same drop is taken.
        dropOn(title);
        QVERIFY(title->text() != "a.flv");
    }

    // A press that bypasses input events, as a screen reader's "press" action does, cannot
    // choose another source or folder during the run either.
    void pressWithoutInputDuringRunChangesNothing()
    {
        qputenv("FAKE_TOOL_SLEEP_MS", "600");
        setSelections("/v/a.avi", "/o/", "a.flv");
        choosers->files = {QString("/v/other.avi")};
        choosers->folders = {"/elsewhere"};
        bool pressedDuringRun = false;
        QTimer::singleShot(150, [&] {
            pressedDuringRun = !control<QPushButton>("cmdEncode")->isEnabled();
            control<QPushButton>("cmdInput")->click();
            control<QPushButton>("cmdOutput")->click();
        });
        QTest::mouseClick(control<QPushButton>("cmdEncode"), Qt::LeftButton);
        QVERIFY(pressedDuringRun);

        QVERIFY(choosers->titles.isEmpty());
        QCOMPARE(control<QLabel>("lblOutput")->text(), "/o/");
        QCOMPARE(control<QLineEdit>("txtFileTitle")->text(), "a.flv");
        QCOMPARE(app->runs().last(), QStringList({"flvtool2", "-U", "/o/a.flv", "/o/a.flv"}));
    }

    void failedEncodeKeepsEncoderCommand()
    {
        qputenv("FAKE_FFMPEG_EXIT", "1");
        setSelections("/v/a.avi", "/o/", "a.flv");
        QTest::mouseClick(control<QPushButton>("cmdEncode"), Qt::LeftButton);
        QVERIFY(commandText().startsWith(app->path() + "/ffmpeg -i \"/v/a.avi\" -b 468kb/s"));
        QCOMPARE(notifier->texts(),
                 QStringList{"THE ENCODING FAILED DUE TO A DAMAGED VIDEO FILE!"});
        QVERIFY(control<QPushButton>("cmdEncode")->isEnabled());
    }

    void closeAsksEveryTime()
    {
        notifier->answers = {process::AnswerNo, process::AnswerNo, process::AnswerYes};
        const QString options = window->EncodeOptions;
        QVERIFY(!window->close());
        QVERIFY(!window->close());
        QCOMPARE(window->EncodeOptions, options);
        QCOMPARE(process::MsgAnswer, "7");
        QVERIFY(ends->codes.isEmpty());
        window->close();
        QCOMPARE(ends->codes, QList<int>{0});
        QCOMPARE(notifier->texts(),
                 QStringList({"ARE YOU SURE?", "ARE YOU SURE?", "ARE YOU SURE?"}));
        QCOMPARE(notifier->shown[0].title, "Confirm");
        QCOMPARE(notifier->shown[0].icon, process::Icon::Question);
        QCOMPARE(notifier->shown[0].buttons, process::Buttons::YesNo);
        QCOMPARE(process::MsgAnswer, "6");
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_MainWindow.moc"
