#include "encoding/OutputName.h"
#include "ui/Choosers.h"
#include "ui/MainWindow.h"

#include "../fakes/FakeNotifier.h"
#include "../fakes/ScriptedChoosers.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace quillora;

class TestChoosers : public QObject
{
    Q_OBJECT

    FakeNotifier notifier;
    ScriptedChoosers choosers;
    std::unique_ptr<ui::MainWindow> window;

    QString label(const char* name) { return window->findChild<QLabel*>(name)->text(); }
    QLineEdit* fileTitle() { return window->findChild<QLineEdit*>("txtFileTitle"); }
    void click(const char* name)
    {
        QTest::mouseClick(window->findChild<QPushButton*>(name), Qt::LeftButton);
    }

private slots:
    void init()
    {
        choosers = ScriptedChoosers();
        window = std::make_unique<ui::MainWindow>(notifier, choosers, "/app");
    }

    void proposal_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("proposal");
        QTest::newRow("avi") << "clip.avi"
                             << "clip.flv";
        QTest::newRow("MPEG") << "Holiday.MPEG"
                              << "Holiday.flv";
        QTest::newRow("Mpg") << "show.Mpg"
                             << "show.flv";
        QTest::newRow("flv stays") << "input.flv"
                                   << "input.flv";
        QTest::newRow("two-letter extension") << "x.rm"
                                              << "x.flv";
        QTest::newRow("no extension") << "abc"
                                      << "abc.flv";
        QTest::newRow("two characters") << "ab"
                                        << "ab.flv";
        QTest::newRow("mpeg alone") << "mpeg"
                                    << "mpeg.flv";
        QTest::newRow("dotted name") << "my.holiday.avi"
                                     << "my.holiday.flv";
        QTest::newRow("spaces") << "my holiday clip.wmv"
                                << "my holiday clip.flv";
        QTest::newRow("non-ASCII") << "Fête à Zürich.mov"
                                   << "Fête à Zürich.flv";
        QTest::newRow("hidden file") << ".clip"
                                     << ".clip.flv";
        QTest::newRow("3gp") << "phone.3GP"
                             << "phone.flv";
    }

    void proposal()
    {
        QFETCH(QString, source);
        QFETCH(QString, proposal);
        QCOMPARE(encoding::proposeOutputName(source), proposal);
    }

    void chooseSource()
    {
        choosers.files = {QString("/home/me/Videos/Holiday.MPEG"), std::nullopt,
                          QString("/v/x.rm")};
        click("cmdInput");
        QCOMPARE(label("lblInput"), "/home/me/Videos/Holiday.MPEG");
        QCOMPARE(fileTitle()->text(), "Holiday.flv");
        QCOMPARE(choosers.titles, QStringList{"Open Video File to Encode"});
        QCOMPARE(choosers.lastFilter, "Video Files (*.mpg *.mpeg *.mpv *.mps *.m2v *.m1v *.3gp "
                                      "*.avi *.wmv *.flv *.mov *.rm)");

        // A hand-edited name stays; a cancel changes nothing.
        fileTitle()->setText("edited.flv");
        click("cmdInput");
        QCOMPARE(label("lblInput"), "/home/me/Videos/Holiday.MPEG");
        QCOMPARE(fileTitle()->text(), "edited.flv");

        click("cmdInput");
        QCOMPARE(label("lblInput"), "/v/x.rm");
        QCOMPARE(fileTitle()->text(), "x.flv");
        QVERIFY(notifier.shown.isEmpty());
    }

    void chooseFolder_data()
    {
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<QString>("shown");
        // As the system writes paths, as the chooser gives them: C:\Out on Windows.
        const auto native = [](const char* path) { return QDir::toNativeSeparators(path); };
        QTest::newRow("folder") << native("/media/Out") << native("/media/Out/");
        QTest::newRow("already ends in separator")
            << native("/media/Out/") << native("/media/Out/");
        QTest::newRow("root") << native("/") << native("/");
        QTest::newRow("cancel") << ""
                                << "";
    }

    void chooseFolder()
    {
        QFETCH(QString, chosen);
        QFETCH(QString, shown);
        window->findChild<QLabel*>("lblOutput")->setText("/earlier/");
        choosers.folders = {chosen};
        click("cmdOutput");
        QCOMPARE(label("lblOutput"), shown);
        QCOMPARE(choosers.titles, QStringList{"Select Your Output Folder"});
    }

    // The real dialog offers upper-case extensions like lower-case ones.
    void realDialogMatchesAnyCase()
    {
#ifdef Q_OS_WIN
        QSKIP("Windows shows a dialog of its own, which the window check under Wine drives");
#endif
        QTemporaryDir dir;
        for (const char* name : {"CLIP.AVI", "clip.mov", "Show.Mpeg", "notes.txt", "song.mp3"}) {
            QFile file(dir.path() + "/" + name);
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        QStringList listed;
        QString title;
        QTimer::singleShot(100, [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            title = dialog->windowTitle();
            dialog->setDirectory(dir.path());
            QTest::qWait(500);
            auto* view = dialog->findChild<QListView*>("listView");
            const QModelIndex root = view->rootIndex();
            for (int row = 0; row < view->model()->rowCount(root); ++row)
                listed << view->model()->index(row, 0, root).data().toString();
            dialog->reject();
        });
        ui::DialogChoosers real;
        const auto chosen =
            real.openFile(nullptr, "Open Video File to Encode", ui::videoFileFilter());
        QVERIFY(!chosen);
        QCOMPARE(title, "Open Video File to Encode");
        listed.sort();
        QCOMPARE(listed, QStringList({"CLIP.AVI", "Show.Mpeg", "clip.mov"}));
    }
};

QTEST_MAIN(TestChoosers)
#include "tst_Choosers.moc"
