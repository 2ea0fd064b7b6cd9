// What a screen reader gets from the main window and the message boxes, read through Qt's
// accessibility interfaces as the AT-SPI bridge reads them.
#include "ui/MainWindow.h"
#include "ui/MessageBoxNotifier.h"

#include "../fakes/FakeNotifier.h"
#include "../fakes/ScriptedChoosers.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

using namespace quillora;

class TestAccessibility : public QObject
{
    Q_OBJECT

    FakeNotifier notifier;
    ScriptedChoosers choosers;
    ui::MainWindow* window = nullptr;

    QAccessibleInterface* readerOf(const char* name)
    {
        QObject* object = window->objectName() == name ? window : window->findChild<QObject*>(name);
        if (!object)
            qFatal("no control %s", name);
        return QAccessible::queryAccessibleInterface(object);
    }

private slots:
    void init()
    {
        window = new ui::MainWindow(notifier, choosers, "/app");
        window->fillSettingLists();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
    }
    void cleanup() { delete window; }

    void controlsReadByTheirCaptions_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("role");
        QTest::addColumn<QString>("accessibleName");
        QTest::addColumn<QString>("description");
        QTest::addColumn<QString>("text");
        const int list = QAccessible::ComboBox;
        QTest::newRow("window") << "frmMainTrial" << int(QAccessible::Window) << "Quillora"
                                << ""
                                << "";
        QTest::newRow("input") << "cmdInput" << int(QAccessible::Button) << "Input File"
                               << ""
                               << "";
        QTest::newRow("output") << "cmdOutput" << int(QAccessible::Button) << "Output Folder"
                                << ""
                                << "";
        QTest::newRow("source") << "lblInput" << int(QAccessible::StaticText) << "Source video"
                                << ""
                                << "";
        QTest::newRow("folder") << "lblOutput" << int(QAccessible::StaticText) << "Output folder"
                                << ""
                                << "";
        QTest::newRow("file name")
            << "txtFileTitle" << int(QAccessible::EditableText) << "Output File Name:"
            << ""
            << "";
        QTest::newRow("frame size") << "cmbVideoWindow" << list << "Video Window:"
                                    << "Pixels"
                                    << "240x180";
        QTest::newRow("video bitrate") << "cmbVideoBitrate" << list << "Video Bitrate:"
                                       << "Kbps"
                                       << "468";
        QTest::newRow("sampling") << "cmbAudioSampling" << list << "Sampling Frequency:"
                                  << "Hz"
                                  << "22050";
        QTest::newRow("audio bitrate") << "cmbAudioBitrate" << list << "Audio Bitrate:"
                                       << "Kbps"
                                       << "48";
        QTest::newRow("channels") << "cmbAudioChannels" << list << "Channels:"
                                  << ""
                                  << "Mono";
        QTest::newRow("de-interlace")
            << "chkDeInterlace" << int(QAccessible::CheckBox) << "De - Interlace"
            << ""
            << "";
        QTest::newRow("no audio") << "chkDisableAudio" << int(QAccessible::CheckBox)
                                  << "Disable Audio"
                                  << ""
                                  << "";
        QTest::newRow("encode") << "cmdEncode" << int(QAccessible::Button) << "Start Encoding"
                                << ""
                                << "";
    }

    void controlsReadByTheirCaptions()
    {
        QFETCH(QString, name);
        QFETCH(int, role);
        QFETCH(QString, accessibleName);
        QFETCH(QString, description);
        QFETCH(QString, text);
        QAccessibleInterface* reader = readerOf(qPrintable(name));
        QCOMPARE(int(reader->role()), role);
        QCOMPARE(reader->text(QAccessible::Name), accessibleName);
        QCOMPARE(reader->text(QAccessible::Description), description);
        if (QAccessibleTextInterface* shown = reader->textInterface())
            QCOMPARE(shown->text(0, shown->characterCount()), text);
        else
            QVERIFY(text.isEmpty());
    }

    void captionsAreBuddiesOfTheirControls()
    {
        const QList<std::pair<const char*, const char*>> pairs{
            {"Label1", "txtFileTitle"},    {"Label2", "cmbVideoWindow"},
            {"Label4", "cmbVideoBitrate"}, {"Label6", "cmbAudioSampling"},
            {"Label8", "cmbAudioBitrate"}, {"Label10", "cmbAudioChannels"}};
        for (const auto& [label, control] : pairs) {
            QCOMPARE(window->findChild<QLabel*>(label)->buddy(),
                     window->findChild<QWidget*>(control));
            const auto labelledBy = readerOf(control)->relations(QAccessible::Label);
            QVERIFY2(std::any_of(labelledBy.begin(), labelledBy.end(),
                                 [&](const auto& relation) {
                                     return relation.first->object()->objectName() == label;
                                 }),
                     control);
        }
    }

    void listFollowsItsSelection()
    {
        auto* list = window->findChild<QComboBox*>("cmbAudioChannels");
        list->setCurrentText("Stereo");
        QAccessibleInterface* reader = readerOf("cmbAudioChannels");
        QCOMPARE(reader->text(QAccessible::Name), "Channels:");
        QCOMPARE(reader->text(QAccessible::Value), "Stereo");
        QCOMPARE(reader->textInterface()->text(0, 6), "Stereo");
        QCOMPARE(reader->childCount(), 1);
        QCOMPARE(reader->child(0)->object(), list->view());
        QVERIFY(reader->actionInterface()->actionNames().contains(
            QAccessibleActionInterface::showMenuAction()));
        reader->actionInterface()->doAction(QAccessibleActionInterface::showMenuAction());
        QTRY_VERIFY(list->view()->isVisible());
        reader->actionInterface()->doAction(QAccessibleActionInterface::showMenuAction());
        QTRY_VERIFY(!list->view()->isVisible());
    }

    // The entries are a fixed set, also for a screen reader: a cell of the list that drops
    // down takes a new text when its entry is editable (the AT-SPI bridge's text edits fall
    // back to that on any object).
    void listEntriesCannotBeRenamed()
    {
        for (QComboBox* list : window->findChildren<QComboBox*>()) {
            const QStringList entries = [&] {
                QStringList texts;
                for (int i = 0; i < list->count(); ++i)
                    texts << list->itemText(i);
                return texts;
            }();
            QAccessibleInterface* view = readerOf(qPrintable(list->objectName()))->child(0);
            QVERIFY(view->childCount() >= entries.size());
            for (int i = 0; i < view->childCount(); ++i) {
                QAccessibleInterface* cell = view->child(i);
                QVERIFY2(!cell->state().editable, qPrintable(cell->text(QAccessible::Name)));
                cell->setText(QAccessible::Value, "-y changed");
            }
            for (int i = 0; i < list->count(); ++i)
                QCOMPARE(list->itemText(i), entries[i]);
        }
        window->BuildEncodeOptions();
        QVERIFY(!window->EncodeOptions.contains("changed"));
    }

    void displayFieldsReadThePath()
    {
        choosers.files << QString("/videos/my clip.avi");
        QTest::mouseClick(window->findChild<QPushButton*>("cmdInput"), Qt::LeftButton);
        QAccessibleInterface* reader = readerOf("lblInput");
        QCOMPARE(reader->text(QAccessible::Name), "Source video");
        QCOMPARE(reader->text(QAccessible::Value), "/videos/my clip.avi");
        QCOMPARE(reader->text(QAccessible::Description), "");
        QAccessibleTextInterface* shown = reader->textInterface();
        QCOMPARE(shown->characterCount(), 19);
        QCOMPARE(shown->text(8, 15), "my clip");
        QVERIFY(reader->state().readOnly);
        // Each character has a place on screen, in reading order.
        QVERIFY(shown->characterRect(1).left() > shown->characterRect(0).left());
        QCOMPARE(shown->offsetAtPoint(shown->characterRect(3).center()), 3);
    }

    void messageBoxesReadWithTheirText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("icon");
        QTest::addColumn<QString>("title");
        QTest::newRow("success") << "FLV ENCODED!" << int(process::Icon::Information) << "Message";
        QTest::newRow("failure") << "NO FILE TO ENCODE!" << int(process::Icon::Critical) << "Error";
        QTest::newRow("question") << "ARE YOU SURE?" << int(process::Icon::Question) << "Confirm";
    }

    void messageBoxesReadWithTheirText()
    {
        QFETCH(QString, text);
        QFETCH(int, icon);
        QFETCH(QString, title);
        QString name, description;
        int width = 0;
        int wanted = 0;
        QTimer::singleShot(100, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            QVERIFY(box);
            QAccessibleInterface* reader = QAccessible::queryAccessibleInterface(box);
            name = reader->text(QAccessible::Name);
            description = reader->text(QAccessible::Description);
            width = box->width();
            QFont bold = box->font();
            bold.setBold(true);
            wanted = QFontMetrics(bold).horizontalAdvance(title) + 8 * QFontMetrics(bold).height();
            box->done(QMessageBox::No);
        });
        ui::MessageBoxNotifier real;
        const auto buttons = title == "Confirm" ? process::Buttons::YesNo : process::Buttons::Ok;
        real.show(text, process::Icon(icon), buttons, title);
        QCOMPARE(name, title);
        QCOMPARE(description, text);
        // Room for the title beside the title bar's icon and buttons.
        QVERIFY2(width >= wanted, qPrintable(QString("%1 < %2").arg(width).arg(wanted)));
    }
};

QTEST_MAIN(TestAccessibility)
#include "tst_Accessibility.moc"
