#include "encoding/EncodeOptions.h"

#include <QTest>

using namespace quillora::encoding;

Q_DECLARE_METATYPE(EncodeSettings)

class TestEncodeOptions : public QObject
{
    Q_OBJECT

private slots:
    void optionString_data()
    {
        QTest::addColumn<EncodeSettings>("settings");
        QTest::addColumn<QString>("expected");

        EncodeSettings s = defaultSettings();
        QTest::newRow("defaults") << s << " -b 468kb/s -r 25 -s 240x180 -ar 22050Hz -ab 48 -ac 1 ";
        s.disableAudio = true;
        QTest::newRow("no audio") << s << " -b 468kb/s -r 25 -s 240x180 -an ";
        s.deInterlace = true;
        QTest::newRow("both boxes") << s << " -b 468kb/s -r 25 -s 240x180  -deinterlace -an ";
        s.disableAudio = false;
        QTest::newRow("de-interlace")
            << s << " -b 468kb/s -r 25 -s 240x180  -deinterlace -ar 22050Hz -ab 48 -ac 1 ";
        QTest::newRow("largest")
            << EncodeSettings{"800x600", "1600", "44100", "128", "Stereo", true, false}
            << " -b 1600kb/s -r 25 -s 800x600  -deinterlace -ar 44100Hz -ab 128 -ac 2 ";
        s = defaultSettings();
        s.audioBitrate = "64";
        QTest::newRow("audio bitrate 64")
            << s << " -b 468kb/s -r 25 -s 240x180 -ar 22050Hz -ab 64 -ac 1 ";
        // Only the exact text selects two channels.
        s = defaultSettings();
        s.audioChannels = "stereo";
        QTest::newRow("lower-case stereo is mono")
            << s << " -b 468kb/s -r 25 -s 240x180 -ar 22050Hz -ab 48 -ac 1 ";
        // With no audio the audio values are not read at all.
        QTest::newRow("no audio ignores audio lists")
            << EncodeSettings{"160x120", "160", "", "", "", false, true}
            << " -b 160kb/s -r 25 -s 160x120 -an ";
    }

    void optionString()
    {
        QFETCH(EncodeSettings, settings);
        QFETCH(QString, expected);
        QCOMPARE(BuildEncodeOptions(settings), expected);
    }

    void workedExampleLengths()
    {
        EncodeSettings s = defaultSettings();
        QCOMPARE(BuildEncodeOptions(s).size(), 54);
        s.disableAudio = true;
        QCOMPARE(BuildEncodeOptions(s).size(), 33);
        s.deInterlace = true;
        QCOMPARE(BuildEncodeOptions(s).size(), 47);
        s.disableAudio = false;
        QCOMPARE(BuildEncodeOptions(s).size(), 68);
    }

    void listsAndDefaults()
    {
        const auto& lists = settingLists();
        QCOMPARE(lists[0].control, "cmbVideoWindow");
        QCOMPARE(lists[4].control, "cmbAudioChannels");
        QCOMPARE(lists[0].defaultEntry(), "240x180");
        QCOMPARE(lists[1].defaultEntry(), "468");
        QCOMPARE(lists[2].defaultEntry(), "22050");
        QCOMPARE(lists[3].defaultEntry(), "48");
        QCOMPARE(lists[4].defaultEntry(), "Mono");
        QCOMPARE(lists[3].entries, QStringList({"24", "32", "48", "56", "64", "96", "128"}));
    }
};

QTEST_APPLESS_MAIN(TestEncodeOptions)
#include "tst_EncodeOptions.moc"
