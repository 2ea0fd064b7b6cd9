// What a screen reader gets from the main window and the message boxes, read through Qt's
// accessibility interfaces as the AT-SPI bridge reads them, and what it can change.
#include "ui/MainWindow.h"
#include "ui/MessageBoxNotifier.h"

#include "../fakes/FakeNotifier.h"
#include "../fakes/FakeTools.h"
#include "../fakes/ScriptedChoosers.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <cstring>
#include <functional>
#include <memory>

using namespace quillora;

namespace {
// Also runs a hook as each message box is shown: the moment of a run when the user reads
// how the encode went and the metadata step has not begun.
struct HookedNotifier : FakeNotifier
{
    std::function<void(const QString&)> onShow;

    int show(const QString& text, process::Icon icon, process::Buttons buttons,
             const QString& title) override
    {
        if (onShow)
            onShow(text);
        return FakeNotifier::show(text, icon, buttons, title);
    }
};

// What a screen reader can ask of a control, as the AT-SPI bridge asks it.
enum class Change { Action, SetText, InsertText, DeleteText, ReplaceText };

void apply(QAccessibleInterface* reader, Change change, const QString& argument)
{
    switch (change) {
    case Change::Action:
        reader->actionInterface()->doAction(argument);
        break;
    case Change::SetText:
        reader->setText(QAccessible::Value, argument);
        break;
    case Change::InsertText:
        reader->editableTextInterface()->insertText(0, argument);
        break;
    case Change::DeleteText:
        reader->editableTextInterface()->deleteText(0, 2);
        break;
    case Change::ReplaceText:
        // What SetTextContents does.
        reader->editableTextInterface()->replaceText(0, reader->textInterface()->characterCount(),
                                                     argument);
        break;
    }
}

// Every interface reachable from root, root first.
QList<QAccessibleInterface*> treeOf(QAccessibleInterface* root)
{
    QList<QAccessibleInterface*> found{root};
    for (int i = 0; i < root->childCount(); ++i)
        if (QAccessibleInterface* child = root->child(i))
            found += treeOf(child);
    return found;
}

// What a screen reader reads of root and what shows inside it, but the named controls: role,
// name, description, value and states.
QStringList readingOf(QAccessibleInterface* root, const QStringList& except = {})
{
    const QAccessible::State state = root->state();
    const QString name = root->object() ? root->object()->objectName() : "";
    if (state.invisible)
        return {};
    QStringList read;
    if (!except.contains(name)) {
        quint64 bits = 0;
        static_assert(sizeof(state) == sizeof(bits));
        std::memcpy(&bits, &state, sizeof(bits));
        read << QString("%1 %2 '%3' '%4' '%5' %6")
                    .arg(name)
                    .arg(int(root->role()))
                    .arg(root->text(QAccessible::Name), root->text(QAccessible::Description),
                         root->text(QAccessible::Value))
                    .arg(bits, 0, 16);
    }
    for (int i = 0; i < root->childCount(); ++i)
        if (QAccessibleInterface* child = root->child(i))
            read += readingOf(child, except);
    return read;
}
} // namespace

Q_DECLARE_METATYPE(Change)

class TestAccessibility : public QObject
{
    Q_OBJECT

    std::unique_ptr<FakeAppDir> app;
    std::unique_ptr<HookedNotifier> notifier;
    std::unique_ptr<ScriptedChoosers> choosers;
    ui::MainWindow* window = nullptr;

    template <typename T> T* control(const char* name)
    {
        T* widget = window->findChild<T*>(name);
        if (!widget)
            qFatal("no control %s", name);
        return widget;
    }

    // Everything the window holds that a user or a run could change.
    QMap<QString, QString> values()
    {
        QMap<QString, QString> found;
        for (const QLabel* label : window->findChildren<QLabel*>())
            found[label->objectName()] = label->text();
        for (const QLineEdit* field : window->findChildren<QLineEdit*>())
            found[field->objectName()] = field->text();
        for (const QComboBox* list : window->findChildren<QComboBox*>())
            found[list->objectName()] =
                list->currentText() + (list->view()->isVisible() ? " (open)" : "");
        for (const QCheckBox* box : window->findChildren<QCheckBox*>())
            found[box->objectName()] = QString::number(box->checkState());
        found["txtApp"] = control<QPlainTextEdit>("txtApp")->toPlainText();
        found["options"] = window->EncodeOptions;
        found["focus"] = window->focusWidget() ? window->focusWidget()->objectName() : "";
        found["choosers asked"] = choosers->titles.join('|');
        found["tool runs"] = QString::number(app->runs().size());
        return found;
    }

    void pickFiles()
    {
        control<QLabel>("lblInput")->setText("/v/a.avi");
        control<QLabel>("lblOutput")->setText("/o/");
        control<QLineEdit>("txtFileTitle")->setText("a.flv");
        control<QLineEdit>("txtFileTitle")->setFocus();
        choosers->files = {QString("/v/other.avi")};
        choosers->folders = {"/elsewhere"};
    }

    // Presses "Start Encoding" with the tools each taking sleepMs, and returns once the run
    // and its message boxes are over; checks that the metadata step named the encoded file.
    void encode(int sleepMs)
    {
        qputenv("FAKE_TOOL_SLEEP_MS", QByteArray::number(sleepMs));
        control<QPushButton>("cmdEncode")->click();
        notifier->onShow = {};
        const auto runs = app->runs();
        QCOMPARE(runs.size(), 2);
        QCOMPARE(runs[0].last(), "/o/a.flv");
        QCOMPARE(runs[1], QStringList({"flvtool2", "-U", "/o/a.flv", "/o/a.flv"}));
        QCOMPARE(notifier->texts(), QStringList({"FLV ENCODED!", "METADATA INJECTED!"}));
        QVERIFY(control<QPlainTextEdit>("txtApp")->toPlainText().endsWith(
            "flvtool2 -U \"/o/a.flv\" \"/o/a.flv\""));
        qputenv("FAKE_TOOL_SLEEP_MS", "0");
    }

    // Calls what as soon as the encoder has logged its run, while it sleeps on.
    void onceTheEncoderRuns(QTimer& poll, const std::function<void()>& what)
    {
        poll.setInterval(10);
        connect(&poll, &QTimer::timeout, this, [this, &poll, what] {
            if (app->runs().size() != 1)
                return;
            poll.stop();
            what();
        });
        poll.start();
    }

    QStringList buttonsDown()
    {
        QStringList down;
        for (const QAbstractButton* button : window->findChildren<QAbstractButton*>())
            if (button->isDown())
                down << button->objectName();
        return down;
    }

    // What a run leaves changed by itself.
    static QMap<QString, QString> withoutRunResults(QMap<QString, QString> found)
    {
        found.remove("txtApp");
        found.remove("tool runs");
        return found;
    }

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
        app = std::make_unique<FakeAppDir>();
        notifier = std::make_unique<HookedNotifier>();
        choosers = std::make_unique<ScriptedChoosers>();
        window = new ui::MainWindow(*notifier, *choosers, app->path());
        window->fillSettingLists();
        window->BuildEncodeOptions();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
    }
    void cleanup()
    {
        delete window;
        choosers.reset();
        notifier.reset();
        app.reset();
    }

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
        QVERIFY(reader->isValid());
        QCOMPARE(reader->object()->objectName(), name);
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
        choosers->files << QString("/videos/my clip.avi");
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

    // A screen reader calls the controls directly, past the input blocker. While a tool runs,
    // from the press of "Start Encoding" until its last message box is answered, nothing it
    // asks for changes the window; once the run is over, the same request is taken.
    void changesRefusedWhileAToolRuns_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<Change>("change");
        QTest::addColumn<QString>("argument");
        QTest::addColumn<QString>("moment");
        const QString press = QAccessibleActionInterface::pressAction();
        const QString toggle = QAccessibleActionInterface::toggleAction();
        struct Row
        {
            const char* what;
            const char* name;
            Change change;
            QString argument;
        };
        const Row rows[] = {
            {"press Input File", "cmdInput", Change::Action, press},
            {"press Output Folder", "cmdOutput", Change::Action, press},
            {"focus Output Folder", "cmdOutput", Change::Action,
             QAccessibleActionInterface::setFocusAction()},
            {"tick De-Interlace", "chkDeInterlace", Change::Action, toggle},
            {"tick Disable Audio", "chkDisableAudio", Change::Action, toggle},
            {"open Video Window", "cmbVideoWindow", Change::Action,
             QAccessibleActionInterface::showMenuAction()},
            {"open Channels", "cmbAudioChannels", Change::Action, press},
            {"set the file name", "txtFileTitle", Change::SetText, "other.flv"},
            {"type into the file name", "txtFileTitle", Change::InsertText, "x"},
            {"delete from the file name", "txtFileTitle", Change::DeleteText, ""},
            {"replace the file name", "txtFileTitle", Change::ReplaceText, "other.flv"},
        };
        // While the encoder runs, while its message is read (the metadata step has not begun),
        // and while the last message is read (nothing is written after it). "Start Encoding"
        // is not among them: the run disables it, and Qt offers nothing on a disabled button.
        for (const Row& row : rows)
            for (const char* moment : {"", "FLV ENCODED!", "METADATA INJECTED!"})
                QTest::addRow("%s, %s", row.what, *moment ? moment : "during the encode")
                    << row.name << row.change << row.argument << moment;
        // The command field is filled anew before the metadata step, so only a change after
        // that would stay.
        QTest::addRow("replace the command, METADATA INJECTED!")
            << "txtApp" << Change::ReplaceText << QString("/bin/other") << "METADATA INJECTED!";
    }

    void changesRefusedWhileAToolRuns()
    {
        QFETCH(QString, name);
        QFETCH(Change, change);
        QFETCH(QString, argument);
        QFETCH(QString, moment);
        pickFiles();
        QAccessibleInterface* reader = readerOf(qPrintable(name));
        const auto before = values();
        bool applied = false;
        QStringList downDuringRun;
        const auto applyDuringRun = [&] {
            applied =
                window->runner().isRunning() && !control<QPushButton>("cmdEncode")->isEnabled();
            apply(reader, change, argument);
            downDuringRun = buttonsDown();
        };
        QTimer poll;
        if (moment.isEmpty())
            onceTheEncoderRuns(poll, applyDuringRun);
        else
            notifier->onShow = [&](const QString& text) {
                if (text == moment)
                    applyDuringRun();
            };
        encode(moment.isEmpty() ? 500 : 0);
        QVERIFY2(applied, "the change was not asked for during the run");
        // Not even drawn pressed, as though the press would be taken.
        QCOMPARE(downDuringRun, QStringList());
        // A press is animated: the click that it makes lands a moment later, if at all.
        if (change == Change::Action)
            QTest::qWait(150);
        QCOMPARE(withoutRunResults(values()), withoutRunResults(before));

        const auto settled = values();
        if (change == Change::Action)
            QVERIFY(reader->actionInterface()->actionNames().contains(argument));
        apply(reader, change, argument);
        QTRY_VERIFY(values() != settled);
    }

    // Everything that every interface of the window offers for changing it, asked for during
    // a run: actions, texts, values and text edits.
    void everyChangeRefusedWhileAToolRuns()
    {
        pickFiles();
        QAccessibleInterface* root = readerOf("frmMainTrial");
        const auto before = values();
        const auto actionsOf = [&] {
            QList<QPair<QString, QStringList>> found;
            for (QAccessibleInterface* reader : treeOf(root))
                if (QAccessibleActionInterface* actions = reader->actionInterface())
                    found << qMakePair(reader->object() ? reader->object()->objectName() : "",
                                       actions->actionNames());
            return found;
        };
        auto actionsBefore = actionsOf();
        const QStringList readBefore = readingOf(root);
        // The run disables "Start Encoding", as a user sees.
        const QStringList readBeforeButEncode = readingOf(root, {"cmdEncode"});
        int asked = 0;
        QList<QPair<QString, QStringList>> actionsDuringRun;
        QStringList readDuringRun;
        QTimer poll;
        onceTheEncoderRuns(poll, [&] {
            QVERIFY(window->runner().isRunning());
            actionsDuringRun = actionsOf();
            readDuringRun = readingOf(root, {"cmdEncode"});
            for (QAccessibleInterface* reader : treeOf(root)) {
                if (QAccessibleActionInterface* actions = reader->actionInterface()) {
                    for (const QString& action : actions->actionNames()) {
                        actions->doAction(action);
                        ++asked;
                    }
                }
                for (QAccessible::Text text :
                     {QAccessible::Value, QAccessible::Name, QAccessible::Description}) {
                    reader->setText(text, "changed");
                    ++asked;
                }
                if (QAccessibleEditableTextInterface* edit = reader->editableTextInterface()) {
                    edit->insertText(0, "x");
                    edit->deleteText(0, 1);
                    edit->replaceText(0, 1, "y");
                    asked += 3;
                }
                if (QAccessibleValueInterface* value = reader->valueInterface()) {
                    value->setCurrentValue(value->maximumValue());
                    value->setCurrentValue(value->minimumValue());
                    asked += 2;
                }
            }
        });
        encode(500);
        QTest::qWait(150);
        QVERIFY2(asked > 100, qPrintable(QString::number(asked)));
        // A screen reader reads the same actions as before, it only cannot do them now; Qt
        // itself offers none on a disabled button, the one that the run disables.
        for (auto& [name, names] : actionsBefore)
            if (name == "cmdEncode")
                names.clear();
        QCOMPARE(actionsDuringRun, actionsBefore);
        // Nothing is greyed or marked for the run, and the run leaves the tree as it was.
        QCOMPARE(readDuringRun, readBeforeButEncode);
        QVERIFY(readDuringRun.size() > 20);
        QCOMPARE(readingOf(root), readBefore);
        QCOMPARE(withoutRunResults(values()), withoutRunResults(before));
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
