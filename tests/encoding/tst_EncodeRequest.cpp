#include "encoding/EncodeRequest.h"

#include <QTest>

using namespace quillora::encoding;

Q_DECLARE_METATYPE(FocusTarget)

class TestEncodeRequest : public QObject
{
    Q_OBJECT

private slots:
    void checks_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("message"); // empty: every check passes
        QTest::addColumn<FocusTarget>("focus");

        const QString invalid = "INVALID OUTPUT FILE NAME! MUST BE A .FLV FILE.";
        const auto title = FocusTarget::FileTitle;
        QTest::newRow("nothing chosen") << ""
                                        << ""
                                        << ""
                                        << "NO FILE TO ENCODE!" << FocusTarget::InputButton;
        QTest::newRow("no folder, name given")
            << "/v/a.avi"
            << ""
            << "a.flv"
            << "NO OUTPUT FOLDER MENTIONED!" << FocusTarget::OutputButton;
        QTest::newRow("empty name") << "/v/a.avi"
                                    << "/o/"
                                    << ""
                                    << "OUTPUT FILE NAME MISSING!" << title;
        QTest::newRow("space source is a source") << " "
                                                  << "/o/"
                                                  << "a.flv"
                                                  << "" << title;
        QTest::newRow("upper case") << "/v/a.avi"
                                    << "/o/"
                                    << "clip.FLV"
                                    << "" << title;
        QTest::newRow("mixed case") << "/v/a.avi"
                                    << "/o/"
                                    << "clip.Flv"
                                    << "" << title;
        QTest::newRow("extension alone") << "/v/a.avi"
                                         << "/o/"
                                         << ".flv"
                                         << "" << title;
        QTest::newRow("flv without dot") << "/v/a.avi"
                                         << "/o/"
                                         << "flv" << invalid << title;
        QTest::newRow("trailing space") << "/v/a.avi"
                                        << "/o/"
                                        << "clip.flv " << invalid << title;
        QTest::newRow("mp4") << "/v/a.avi"
                             << "/o/"
                             << "clip.mp4" << invalid << title;
        QTest::newRow("three spaces") << "/v/a.avi"
                                      << "/o/"
                                      << "   " << invalid << title;
        QTest::newRow("non-ASCII") << "/v/é.avi"
                                   << "/o/"
                                   << "Ünïcödé.flv"
                                   << "" << title;
    }

    void checks()
    {
        QFETCH(QString, source);
        QFETCH(QString, folder);
        QFETCH(QString, name);
        QFETCH(QString, message);
        QFETCH(FocusTarget, focus);
        const auto failure = checkEncodeRequest(source, folder, name);
        if (message.isEmpty()) {
            QVERIFY(!failure);
        } else {
            QVERIFY(failure);
            QCOMPARE(failure->text, message);
            QCOMPARE(failure->focus, focus);
        }
    }

    void commandLines_data()
    {
        QTest::addColumn<QString>("appDir");
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QChar>("separator");
        QTest::addColumn<QString>("encoder");
        QTest::addColumn<QString>("metadata");

        QTest::newRow("windows worked example")
            << R"(C:\Apps\Encoder)"
            << R"(C:\Videos\holiday clip.avi)"
            << R"(D:\Flash\)"
            << "holiday clip.flv" << QChar(u'\\')
            << R"(C:\Apps\Encoder\ffmpeg -i "C:\Videos\holiday clip.avi" -b 225kb/s -r 25 -s 320x240 -ar 22050Hz -ab 56 -ac 1 "D:\Flash\holiday clip.flv")"
            << R"(C:\Apps\Encoder\flvtool2 -U "D:\Flash\holiday clip.flv" "D:\Flash\holiday clip.flv")";
        QTest::newRow("linux worked example")
            << "/opt/Apps/Encoder"
            << "/home/me/Videos/holiday clip.avi"
            << "/srv/Flash/"
            << "holiday clip.flv" << QChar(u'/')
            << R"(/opt/Apps/Encoder/ffmpeg -i "/home/me/Videos/holiday clip.avi" -b 225kb/s -r 25 -s 320x240 -ar 22050Hz -ab 56 -ac 1 "/srv/Flash/holiday clip.flv")"
            << R"(/opt/Apps/Encoder/flvtool2 -U "/srv/Flash/holiday clip.flv" "/srv/Flash/holiday clip.flv")";
        QTest::newRow("quotes, dollar, non-ASCII, app folder with a space")
            << "/opt/My Apps"
            << R"(/v/say "hi" $HOME `x`.avi)"
            << "/ø/Ünï $dir/"
            << ".FLV" << QChar(u'/')
            << R"(/opt/My Apps/ffmpeg -i "/v/say "hi" $HOME `x`.avi" -b 225kb/s -r 25 -s 320x240 -ar 22050Hz -ab 56 -ac 1 "/ø/Ünï $dir/.FLV")"
            << R"(/opt/My Apps/flvtool2 -U "/ø/Ünï $dir/.FLV" "/ø/Ünï $dir/.FLV")";
    }

    void commandLines()
    {
        QFETCH(QString, appDir);
        QFETCH(QString, source);
        QFETCH(QString, folder);
        QFETCH(QString, name);
        QFETCH(QChar, separator);
        QFETCH(QString, encoder);
        QFETCH(QString, metadata);
        const QString options = " -b 225kb/s -r 25 -s 320x240 -ar 22050Hz -ab 56 -ac 1 ";

        const CommandLine e = encoderCommandLine(appDir, source, options, folder, name, separator);
        QCOMPARE(e.text, encoder);
        QCOMPARE(e.program, appDir + separator + "ffmpeg");
        QCOMPARE(e.arguments,
                 QStringList({"-i", source, "-b", "225kb/s", "-r", "25", "-s", "320x240", "-ar",
                              "22050Hz", "-ab", "56", "-ac", "1", folder + name}));

        const CommandLine m = metadataCommandLine(appDir, folder, name, separator);
        QCOMPARE(m.text, metadata);
        QCOMPARE(m.program, appDir + separator + "flvtool2");
        QCOMPARE(m.arguments, QStringList({"-U", folder + name, folder + name}));
    }

    void deinterlaceArguments()
    {
        const CommandLine e =
            encoderCommandLine("/a", "/s.avi", " -b 468kb/s -r 25 -s 240x180  -deinterlace -an ",
                               "/o/", "x.flv", u'/');
        QCOMPARE(
            e.text,
            R"(/a/ffmpeg -i "/s.avi" -b 468kb/s -r 25 -s 240x180  -deinterlace -an "/o/x.flv")");
        QCOMPARE(e.arguments, QStringList({"-i", "/s.avi", "-b", "468kb/s", "-r", "25", "-s",
                                           "240x180", "-deinterlace", "-an", "/o/x.flv"}));
    }
};

QTEST_APPLESS_MAIN(TestEncodeRequest)
#include "tst_EncodeRequest.moc"
