// Our encoder: its option dialect, and real encodes of sources made by Debian's ffmpeg,
// checked with ffprobe.
#include "EncoderOptions.h"

#include "../fakes/RunProgram.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace quillora::encoder;

namespace {
QString encoder()
{
    return qEnvironmentVariable("QUILLORA_BIN_DIR") + "/ffmpeg";
}

int run(const QString& program, const QStringList& arguments, QByteArray* out = nullptr)
{
    const ProgramRun r = runProgram(program, arguments);
    if (out)
        *out = r.out.toUtf8();
    return r.exitCode;
}

QJsonObject probe(const QString& file)
{
    QByteArray json;
    run("ffprobe", {"-v", "error", "-show_streams", "-show_format", "-of", "json", file}, &json);
    return QJsonDocument::fromJson(json).object();
}

QJsonObject stream(const QJsonObject& probed, const QString& type)
{
    for (const auto& s : probed["streams"].toArray())
        if (s.toObject()["codec_type"].toString() == type)
            return s.toObject();
    return {};
}
} // namespace

class TestEncoder : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QString path(const QString& name) const { return dir.path() + "/" + name; }

    QString source(const QString& name, const QStringList& arguments)
    {
        const QString file = path(name);
        if (!QFile::exists(file))
            run("ffmpeg", QStringList{"-v", "error", "-y"} + arguments + QStringList{file});
        return file;
    }

private slots:
    void parsesTheDesktopDialect_data()
    {
        QTest::addColumn<QString>("options");
        QTest::addColumn<int>("videoKbps");
        QTest::addColumn<QString>("size");
        QTest::addColumn<bool>("deinterlace");
        QTest::addColumn<bool>("noAudio");
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("audioKbps");
        QTest::addColumn<int>("channels");
        QTest::newRow("defaults") << " -b 468kb/s -r 25 -s 240x180 -ar 22050Hz -ab 48 -ac 1 " << 468
                                  << "240x180" << false << false << 22050 << 48 << 1;
        QTest::newRow("no audio") << " -b 468kb/s -r 25 -s 240x180 -an " << 468 << "240x180"
                                  << false << true << 22050 << 48 << 1;
        QTest::newRow("de-interlace")
            << " -b 468kb/s -r 25 -s 240x180  -deinterlace -ar 22050Hz -ab 48 -ac 1 " << 468
            << "240x180" << true << false << 22050 << 48 << 1;
        QTest::newRow("both") << " -b 468kb/s -r 25 -s 240x180  -deinterlace -an " << 468
                              << "240x180" << true << true << 22050 << 48 << 1;
        QTest::newRow("largest")
            << " -b 1600kb/s -r 25 -s 800x600  -deinterlace -ar 44100Hz -ab 128 -ac 2 " << 1600
            << "800x600" << true << false << 44100 << 128 << 2;
        QTest::newRow("plain forms") << "-ac 2 -ab 64 -ar 11025 -s 320x240 -r 25 -b 300k" << 300
                                     << "320x240" << false << false << 11025 << 64 << 2;
    }

    void parsesTheDesktopDialect()
    {
        QFETCH(QString, options);
        QFETCH(int, videoKbps);
        QFETCH(QString, size);
        QFETCH(bool, deinterlace);
        QFETCH(bool, noAudio);
        QFETCH(int, rate);
        QFETCH(int, audioKbps);
        QFETCH(int, channels);
        std::vector<std::string> arguments{"-i", "in.avi"};
        for (const QString& a : options.split(' ', Qt::SkipEmptyParts))
            arguments.push_back(a.toStdString());
        arguments.push_back("out.flv");
        const EncoderOptions o = parseEncoderOptions(arguments);
        QCOMPARE(o.videoKbps, videoKbps);
        QCOMPARE(QString("%1x%2").arg(o.width).arg(o.height), size);
        QCOMPARE(o.deinterlace, deinterlace);
        QCOMPARE(o.noAudio, noAudio);
        QCOMPARE(o.frameRate, 25);
        QCOMPARE(o.output, std::string("out.flv"));
        if (!noAudio) {
            QCOMPARE(o.sampleRate, rate);
            QCOMPARE(o.audioKbps, audioKbps);
            QCOMPARE(o.channels, channels);
        }
        QVERIFY(videoFilterDescription(o).starts_with(deinterlace ? "yadif,scale=" : "scale="));
    }

    void refusesBadCommandLines_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("problem");
        QTest::newRow("unknown option")
            << QStringList{"-i", "a", "-q", "b.flv"} << "unknown option -q";
        QTest::newRow("missing value")
            << QStringList{"-i", "a", "b.flv", "-b"} << "missing value for -b";
        QTest::newRow("bad size") << QStringList{"-i", "a", "-s", "240by180", "b.flv"}
                                  << "invalid size";
        QTest::newRow("bad number")
            << QStringList{"-i", "a", "-b", "fast", "b.flv"} << "invalid value";
        QTest::newRow("no input") << QStringList{"b.flv"} << "no input";
        QTest::newRow("no output") << QStringList{"-i", "a"} << "no output";
    }

    void refusesBadCommandLines()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, problem);
        std::vector<std::string> list;
        for (const QString& a : arguments)
            list.push_back(a.toStdString());
        try {
            parseEncoderOptions(list);
            QFAIL("accepted");
        } catch (const UsageError& error) {
            QVERIFY2(QString(error.what()).contains(problem), error.what());
        }
        QCOMPARE(run(encoder(), arguments), 2);
    }

    void encodes_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("make");
        QTest::addColumn<QString>("options");
        QTest::addColumn<bool>("audio");
        QTest::addColumn<bool>("video");
        const QStringList av{"-f", "lavfi", "-i", "testsrc=size=352x288:rate=30",
                             "-f", "lavfi", "-i", "sine=sample_rate=44100",
                             "-t", "3"};
        QTest::newRow("avi defaults")
            << "s.avi" << av + QStringList{"-c:v", "mpeg4", "-c:a", "pcm_s16le"}
            << " -b 468kb/s -r 25 -s 240x180 -ar 22050Hz -ab 48 -ac 1 " << true << true;
        QTest::newRow("mpeg-2 interlaced large")
            << "s.mpg"
            << av + QStringList{"-c:v", "mpeg2video", "-flags", "+ilme+ildct", "-c:a", "mp2"}
            << " -b 1600kb/s -r 25 -s 800x600  -deinterlace -ar 44100Hz -ab 128 -ac 2 " << true
            << true;
        QTest::newRow("mov no audio option")
            << "s.mov" << av + QStringList{"-c:v", "mpeg4", "-c:a", "aac"}
            << " -b 320kb/s -r 25 -s 320x240 -an " << false << true;
        QTest::newRow("video-only source")
            << "v.wmv" << QStringList{"-f", "lavfi", "-i",   "testsrc=size=176x144:rate=15",
                                      "-t", "2",     "-c:v", "wmv2"}
            << " -b 225kb/s -r 25 -s 160x120 -ar 11025Hz -ab 24 -ac 1 " << false << true;
        QTest::newRow("audio-only source")
            << "a.mkv" << QStringList{"-f", "lavfi", "-i", "sine", "-t", "2"}
            << " -b 468kb/s -r 25 -s 240x180 -ar 22050Hz -ab 32 -ac 2 " << true << false;
    }

    void encodes()
    {
        QFETCH(QString, name);
        QFETCH(QStringList, make);
        QFETCH(QString, options);
        QFETCH(bool, audio);
        QFETCH(bool, video);
        const QString in = source(name, make);
        const QString out = path(name + " out.flv");
        const QStringList arguments =
            QStringList{"-i", in} + options.split(' ', Qt::SkipEmptyParts) + QStringList{out};
        QCOMPARE(run(encoder(), arguments), 0);
        const QJsonObject probed = probe(out);
        const QJsonObject v = stream(probed, "video");
        const QJsonObject a = stream(probed, "audio");
        QCOMPARE(!v.isEmpty(), video);
        QCOMPARE(!a.isEmpty(), audio);
        const auto o = [&] {
            std::vector<std::string> list{"-i", "x"};
            for (const QString& s : options.split(' ', Qt::SkipEmptyParts))
                list.push_back(s.toStdString());
            list.push_back("y");
            return parseEncoderOptions(list);
        }();
        if (video) {
            QCOMPARE(v["codec_name"].toString(), "flv1");
            QCOMPARE(v["width"].toInt(), o.width);
            QCOMPARE(v["height"].toInt(), o.height);
            QCOMPARE(v["r_frame_rate"].toString(), "25/1");
        }
        if (audio) {
            QCOMPARE(a["codec_name"].toString(), "mp3");
            QCOMPARE(a["sample_rate"].toString().toInt(), o.sampleRate);
            QCOMPARE(a["channels"].toInt(), o.channels);
        }
        const double sourceDuration =
            probe(in)["format"].toObject()["duration"].toString().toDouble();
        const double duration = probed["format"].toObject()["duration"].toString().toDouble();
        QVERIFY2(qAbs(duration - sourceDuration) < 0.15,
                 qPrintable(QString("%1 vs %2").arg(duration).arg(sourceDuration)));
        QCOMPARE(QDir(dir.path()).entryList({"*.part"}, QDir::Hidden | QDir::Files), QStringList());
    }

    void refusalsLeaveNothing_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("empty file") << QByteArray();
        QTest::newRow("text") << QByteArray("this is not a video\n");
        QTest::newRow("random bytes") << QByteArray(4096, '\x5a');
    }

    void refusalsLeaveNothing()
    {
        QFETCH(QByteArray, content);
        QTemporaryDir local;
        QFile f(local.path() + "/bad.avi");
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(content);
        f.close();
        QVERIFY(run(encoder(), {"-i", f.fileName(), "-b", "468kb/s", "-r", "25", "-s", "240x180",
                                "-an", local.path() + "/o.flv"}) != 0);
        QCOMPARE(QDir(local.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"bad.avi"});
    }

    void existingOutputAndSameFile()
    {
        QTemporaryDir local;
        const QString in = source("s.avi", {});
        const QString out = local.path() + "/keep.flv";
        QFile f(out);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("precious");
        f.close();
        const QStringList options{"-b", "468kb/s", "-r", "25", "-s", "240x180", "-an"};
        // Nobody can answer here: refused, the file untouched.
        QCOMPARE(run(encoder(), QStringList{"-i", in} + options + QStringList{out}), 3);
        QFile check(out);
        QVERIFY(check.open(QIODevice::ReadOnly));
        QCOMPARE(check.readAll(), QByteArray("precious"));
        check.close();
        // The source named as output is never touched.
        QVERIFY(QFile::copy(in, local.path() + "/same.avi"));
        QCOMPARE(run(encoder(), QStringList{"-i", local.path() + "/same.avi", "-y"} + options +
                                    QStringList{local.path() + "/./same.avi"}),
                 2);
        QCOMPARE(QFileInfo(local.path() + "/same.avi").size(), QFileInfo(in).size());
        QCOMPARE(run(encoder(), QStringList{"-i", in, "-y"} + options + QStringList{out}), 0);
        QVERIFY(QFileInfo(out).size() > 1000);
    }
};

QTEST_GUILESS_MAIN(TestEncoder)
#include "tst_Encoder.moc"
