// flvtool2 against files made by Debian's ffmpeg, checked by flvmeta and by reading back.
#include "flv/Amf0.h"
#include "flv/Bytes.h"

#include "../fakes/RunProgram.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>
#include <QThread>

#include <bit>
#include <cmath>
#include <csignal>
#include <limits>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {
QString tool()
{
    return qEnvironmentVariable("QUILLORA_BIN_DIR") + "/flvtool2";
}

ProgramRun run(const QString& program, const QStringList& arguments, qint64 fileSizeLimit = 0)
{
    return runProgram(program, arguments, fileSizeLimit);
}

QByteArray contents(const QString& path)
{
    return fileContents(path);
}

// A file of ours with the time of its making blanked: the 8 bytes after metadatadate's marker.
QByteArray undated(QByteArray file)
{
    const qsizetype date = file.indexOf("metadatadate") + 12 + 1;
    return file.replace(date, 8, QByteArray(8, 0));
}

void write(const QString& path, const QByteArray& data)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(data);
}

// The tags of an FLV file, each with its trailing PreviousTagSize, in file order.
QList<QByteArray> tagsOf(const QByteArray& file)
{
    QList<QByteArray> tags;
    const auto* b = reinterpret_cast<const std::uint8_t*>(file.constData());
    qsizetype at = quillora::flv::toUInt32BE(b + 5) + 4;
    while (at + 11 <= file.size()) {
        const qsizetype length = 11 + quillora::flv::toUInt24BE(b + at + 1) + 4;
        tags << file.mid(at, length);
        at += length;
    }
    return tags;
}

QByteArray be32(quint32 v)
{
    return QByteArray(1, char(v >> 24)) + char(v >> 16) + char(v >> 8) + char(v);
}

QByteArray flvTag(int type, quint32 ms, const QByteArray& body)
{
    QByteArray tag;
    tag += char(type);
    tag += be32(quint32(body.size())).mid(1);
    tag += be32(ms).mid(1) + char(ms >> 24);
    tag += QByteArray(3, '\0');
    tag += body;
    tag += be32(11 + quint32(body.size()));
    return tag;
}

QByteArray scriptTag(const QByteArray& body)
{
    return flvTag(18, 0, body);
}

const QByteArray audioHeader("FLV\x01\x04\x00\x00\x00\x09\x00\x00\x00\x00", 13);
// An MP3 tag of two bytes.
QByteArray audioTag(quint32 ms)
{
    return flvTag(8, ms, QByteArray("\x2e\xff", 2));
}

QByteArray amfName(const QByteArray& name)
{
    return QByteArray("\x02\x00", 2) + char(name.size()) + name;
}

// AMF0 values that take little room in a file and much in a careless reader.
QByteArray amfNulls(int count)
{
    return '\x0a' + be32(quint32(count)) + QByteArray(count, '\x05');
}

QByteArray amfEcmaOfNulls(int count)
{
    QByteArray property("\x00\x01"
                        "a\x05",
                        4);
    return '\x08' + be32(quint32(count)) + property.repeated(count) + QByteArray("\x00\x00\x09", 3);
}

// Objects `levels` deep around a null. Inside an array, 63 are as deep as a value may be; a cue
// point sits two levels deeper in the index, so 61 are as deep as one can be indexed.
QByteArray amfNestedObjects(int levels)
{
    return QByteArray("\x03\x00\x01"
                      "a",
                      4)
               .repeated(levels) +
           '\x05' + QByteArray("\x00\x00\x09", 3).repeated(levels);
}

QByteArray amfLongString(int length)
{
    return '\x0c' + be32(quint32(length)) + QByteArray(length, 'x');
}

QByteArray amfDate(double milliseconds)
{
    const auto bits = std::bit_cast<quint64>(milliseconds);
    return '\x0b' + be32(quint32(bits >> 32)) + be32(quint32(bits)) + QByteArray(2, '\0');
}

// An old onMetaData holding one property.
QByteArray metadataWith(const QByteArray& key, const QByteArray& value)
{
    return amfName("onMetaData") + '\x08' + be32(1) + amfName(key).mid(1) + value +
           QByteArray("\x00\x00\x09", 3);
}

// A file that a reader holding a value per byte, or reserving room from a count, would need
// far more than the file's own size for.
enum Crafted {
    CueNulls,
    CueFillingItsTag,
    MetadataEcmaFillingItsTag,
    CueNestedObjects,
    CueTooDeepForTheIndex,
    MetadataNestedObjects,
    CueLongString,
    MetadataLongString,
    FullIndexThenFullMetadata,
    ManySmallCuePoints,
    ManySmallTags,
    ManyKeyframes,
    KeyframesFillingTheTag,
};

constexpr int tagCapacity = 0xffffff;
constexpr qint64 largestInput = 100'000'000;

void writeCrafted(QFile& f, Crafted crafted)
{
    const QByteArray cue = amfName("onCuePoint");
    const QByteArray meta = amfName("onMetaData");
    // What fills a script tag after its name and an array's count.
    const int fill = tagCapacity - 13 - 5;
    f.write(audioHeader + audioTag(0));
    switch (crafted) {
    case CueNulls:
        f.write(scriptTag(cue + amfNulls(4 << 20)));
        break;
    case CueFillingItsTag:
        f.write(scriptTag(cue + amfNulls(fill)));
        break;
    case MetadataEcmaFillingItsTag:
        f.write(scriptTag(meta + amfEcmaOfNulls((fill - 3) / 4)));
        break;
    case CueNestedObjects:
        f.write(scriptTag(cue + '\x0a' + be32(28000) + amfNestedObjects(61).repeated(28000)));
        break;
    case CueTooDeepForTheIndex:
        f.write(scriptTag(cue + '\x0a' + be32(1) + amfNestedObjects(63)));
        break;
    case MetadataNestedObjects: {
        const QByteArray property = QByteArray("\x00\x01"
                                               "a",
                                               3) +
                                    amfNestedObjects(63);
        const int count = (fill - 3) / int(property.size());
        f.write(scriptTag(meta + '\x08' + be32(quint32(count)) + property.repeated(count) +
                          QByteArray("\x00\x00\x09", 3)));
        break;
    }
    case CueLongString:
        f.write(scriptTag(cue + amfLongString(12 << 20)));
        break;
    case MetadataLongString:
        f.write(scriptTag(metadataWith("title", amfLongString(fill - 20))));
        break;
    case FullIndexThenFullMetadata:
        for (int i = 0; i < 5; ++i)
            f.write(scriptTag(cue + amfNulls(3'300'000)));
        f.write(scriptTag(meta + amfEcmaOfNulls((fill - 3) / 4)));
        break;
    case ManySmallCuePoints:
    case ManySmallTags:
    case ManyKeyframes:
    case KeyframesFillingTheTag: {
        // A Sorenson H.263 key frame of 160x120 first; then tags of one byte.
        if (crafted == ManyKeyframes || crafted == KeyframesFillingTheTag)
            f.write(flvTag(9, 0, QByteArray("\x12\x00\x00\x84\x00\x50\x3c\x00", 8)));
        const QByteArray one = crafted == ManySmallCuePoints ? scriptTag(cue + '\x05')
                               : crafted == ManySmallTags    ? audioTag(0)
                                                             : flvTag(9, 0, QByteArray(1, '\x12'));
        const quint32 count = crafted == KeyframesFillingTheTag ? 900'000 : 0xffffffff;
        QByteArray chunk;
        const qint64 written = f.size();
        for (quint32 i = 1; i < count && written + i * one.size() < largestInput - 64; ++i) {
            chunk += one;
            // Each at a time of its own, one millisecond apart.
            char* stamp = chunk.data() + chunk.size() - one.size() + 4;
            stamp[0] = char(i >> 16), stamp[1] = char(i >> 8), stamp[2] = char(i);
            stamp[3] = char(i >> 24);
            if (chunk.size() > (1 << 20)) {
                f.write(chunk);
                chunk.clear();
            }
        }
        f.write(chunk);
        break;
    }
    }
    f.write(audioTag(40));
}

QByteArray fileHash(const QString& path)
{
    QFile f(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    return f.open(QIODevice::ReadOnly) && hash.addData(&f) ? hash.result() : QByteArray();
}

bool isMetadata(const QByteArray& tag)
{
    return tag.at(0) == 18 && tag.mid(11, 13) == QByteArray("\x02\x00\x0aonMetaData", 13);
}

QString metadataValue(const QString& printed, const QString& key)
{
    for (const QString& line : printed.split('\n'))
        if (line.startsWith(key + ": "))
            return line.mid(key.size() + 2);
    return {};
}
struct Measured
{
    int exitCode;
    qint64 peakKilobytes;
    QString err;
};

// A run of `program` under GNU time, its output thrown away.
Measured measured(const QString& program, const QStringList& arguments)
{
    QTemporaryFile log;
    if (!log.open())
        return {-1, -1, "cannot create a log"};
    QProcess p;
    p.setStandardOutputFile(QProcess::nullDevice());
    p.start("/usr/bin/time", QStringList{"-v", "-o", log.fileName(), program} + arguments);
    p.waitForFinished(300000);
    const QString report = QString::fromUtf8(log.readAll());
    const auto match =
        QRegularExpression("Maximum resident set size \\(kbytes\\): (\\d+)").match(report);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            match.hasMatch() ? match.captured(1).toLongLong() : -1,
            QString::fromUtf8(p.readAllStandardError())};
}
} // namespace

class TestFlvtool2 : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QString path(const QString& name) const { return dir.path() + "/" + name; }

    QString make(const QString& name, const QStringList& ffmpegArguments)
    {
        return makeMedia(path(name), ffmpegArguments);
    }

    QString sorensonMp3()
    {
        return make("h263-mp3.flv", {"-f", "lavfi", "-i", "testsrc=size=320x240:rate=25", "-f",
                                     "lavfi", "-i", "sine=sample_rate=22050", "-t", "4", "-c:v",
                                     "flv1", "-g", "25", "-c:a", "libmp3lame", "-ac", "1"});
    }

private slots:
    void codecsPassTheChecker_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("size"); // empty: no video
        // Warnings the checker may give: its own mistakes, never ours.
        QTest::addColumn<QStringList>("allowed");
        const QStringList testsrc{"-f", "lavfi", "-i", "testsrc=size=320x240:rate=25"};
        const QStringList sine{"-f", "lavfi", "-i", "sine=sample_rate=44100"};
        const QStringList avc{"-c:v", "libx264", "-preset", "ultrafast"};
        // The checker misreads the picture size of interlaced and 4:4:4 H.264 streams, and
        // counts AVC's configuration and end tags as pictures, which in short files shows.
        const QStringList wrongAvcSize{"width should be", "height should be",
                                       "framerate should be"};
        QTest::newRow("h263 mp3") << testsrc + sine + QStringList{"-t",   "3",    "-c:v",
                                                                  "flv1", "-c:a", "libmp3lame"}
                                  << "320x240" << QStringList();
        QTest::newRow("h264 aac") << testsrc + sine +
                                         QStringList{"-t", "3", "-pix_fmt", "yuv420p"} + avc +
                                         QStringList{"-c:a", "aac"}
                                  << "320x240" << QStringList();
        QTest::newRow("screen video aac")
            << QStringList{"-f", "lavfi", "-i", "testsrc=size=200x150:rate=10"} + sine +
                   QStringList{"-t", "2", "-c:v", "flashsv", "-c:a", "aac"}
            << "200x150" << QStringList();
        QTest::newRow("video only")
            << testsrc + QStringList{"-t", "2", "-c:v", "flv1"} << "320x240" << QStringList();
        // The checker warns on every file without video, whatever its header says.
        QTest::newRow("audio only") << sine + QStringList{"-t", "2", "-c:a", "libmp3lame"} << ""
                                    << QStringList{"W11006", "W60079"};
        QTest::newRow("odd sorenson size")
            << QStringList{"-f", "lavfi", "-i",   "testsrc=size=250x130:rate=25",
                           "-t", "1",     "-c:v", "flv1"}
            << "250x130" << QStringList();
        QTest::newRow("avc 1080 interlaced")
            << QStringList{"-f",     "lavfi",       "-i",        "testsrc=size=1920x1080:rate=25",
                           "-t",     "0.4",         "-pix_fmt",  "yuv420p",
                           "-flags", "+ildct+ilme", "-x264opts", "interlaced=1"} +
                   avc
            << "1920x1080" << wrongAvcSize;
        QTest::newRow("avc 4:4:4 odd size")
            << QStringList{"-f", "lavfi", "-i",       "testsrc=size=318x238:rate=25",
                           "-t", "0.4",   "-pix_fmt", "yuv444p"} +
                   avc
            << "318x238" << wrongAvcSize;
        QTest::newRow("avc 4:2:2")
            << QStringList{"-f", "lavfi", "-i",       "testsrc=size=326x186:rate=25",
                           "-t", "0.4",   "-pix_fmt", "yuv422p"} +
                   avc
            << "326x186" << wrongAvcSize;
    }

    void codecsPassTheChecker()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, size);
        QFETCH(QStringList, allowed);
        const QString in =
            make(QString(QTest::currentDataTag()).replace(' ', '_') + ".flv", arguments);
        const QString out = in + ".out.flv";
        const ProgramRun r = run(tool(), {"-U", in, out});
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        const ProgramRun printed = run(tool(), {"-P", out});
        if (!size.isEmpty())
            QCOMPARE(metadataValue(printed.out, "width") + "x" +
                         metadataValue(printed.out, "height"),
                     size);
        QCOMPARE(metadataValue(printed.out, "hasMetadata"), "true");
        const ProgramRun check = run("flvmeta", {"--check", out});
        const QStringList lines = check.out.split('\n', Qt::SkipEmptyParts);
        QVERIFY2(!lines.isEmpty() && lines.last().startsWith("0 error(s)"), qPrintable(check.out));
        for (const QString& line : lines) {
            if (!line.contains(": warning "))
                continue;
            const bool allowedWarning = std::any_of(
                allowed.begin(), allowed.end(), [&](const QString& a) { return line.contains(a); });
            QVERIFY2(allowedWarning, qPrintable(line));
        }
    }

    void vp6FromAnotherEncoder()
    {
        const QString source =
            qEnvironmentVariable("QUILLORA_SOURCE_DIR") + "/../shared/testdata/vp6-mp3-360x288.flv";
        if (!QFile::exists(source))
            QSKIP("shared test data not present");
        const QString out = path("vp6.out.flv");
        QCOMPARE(run(tool(), {"-U", source, out}).exitCode, 0);
        const ProgramRun printed = run(tool(), {"-P", out});
        QCOMPARE(metadataValue(printed.out, "width"), "360");
        QCOMPARE(metadataValue(printed.out, "height"), "288");
        QCOMPARE(metadataValue(printed.out, "canSeekToEnd"), "true");
        QVERIFY(run("flvmeta", {"--check", out}).out.contains("0 error(s), 0 warning(s)"));
    }

    // Keyframe positions must name video key frame tags in the written file.
    void keyframePositionsPointAtKeyframes()
    {
        const QString out = path("kf.flv");
        QCOMPARE(run(tool(), {"-U", sorensonMp3(), out}).exitCode, 0);
        const QByteArray data = contents(out);
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(data.constData());
        // The metadata tag comes first, right after the header.
        QCOMPARE(int(bytes[13]), 18);
        const std::uint32_t bodySize = quillora::flv::toUInt24BE(bytes + 14);
        std::size_t at = 0;
        const auto metadataName = quillora::flv::parseAmf({bytes + 24, bodySize}, at);
        QCOMPARE(metadataName.string(), std::string("onMetaData"));
        const auto metadata = quillora::flv::parseAmf({bytes + 24, bodySize}, at);
        const auto* keyframes = metadata.find("keyframes");
        QVERIFY(keyframes);
        const auto& positions = keyframes->find("filepositions")->elements();
        QCOMPARE(positions.size(), std::size_t(4));
        for (const auto& position : positions) {
            const auto p = static_cast<std::size_t>(position.number());
            QVERIFY(p + 12 < std::size_t(data.size()));
            QCOMPARE(int(bytes[p] & 0x1f), 9);
            QCOMPARE(int(bytes[p + 11] >> 4), 1);
        }
        QCOMPARE(metadata.find("filesize")->number(), double(data.size()));
        QCOMPARE(metadata.find("stereo")->type(), quillora::flv::AmfType::Boolean);
        QVERIFY(!metadata.find("framerate") || metadata.find("hasVideo")->boolean());
    }

    // An old onMetaData anywhere is dropped; every other tag, a cue point included, is kept
    // byte for byte and in order; the file keeps its permissions.
    void oldMetadataAnywhereAndCuePointsKept()
    {
        const QByteArray source = contents(sorensonMp3());
        const QList<QByteArray> tags = tagsOf(source);
        QVERIFY(tags.size() > 20 && isMetadata(tags[0]));
        // A cue point: "onCuePoint" and an object {name: "chapter", time: 1}.
        QByteArray cue("\x02\x00\x0aonCuePoint\x03\x00\x04name\x02\x00\x07"
                       "chapter"
                       "\x00\x04time\x00\x3f\xf0\x00\x00\x00\x00\x00\x00\x00\x00\x09",
                       48);
        QByteArray rebuilt = source.left(13);
        QList<QByteArray> expected;
        for (int i = 1; i < tags.size(); ++i) {
            if (i == 10) {
                rebuilt += tags[0]; // the old onMetaData, now in the middle
                rebuilt += scriptTag(cue);
                expected << scriptTag(cue);
            }
            rebuilt += tags[i];
            expected << tags[i];
        }
        const QString in = path("meta-in-the-middle.flv");
        write(in, rebuilt);
        QVERIFY(QFile::setPermissions(in, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
        QCOMPARE(run(tool(), {"-U", in}).exitCode, 0);

        const QList<QByteArray> written = tagsOf(contents(in));
        QVERIFY(isMetadata(written[0]));
        QCOMPARE(written.mid(1), expected);
        struct stat info
        {
        };
        QCOMPARE(::stat(QFile::encodeName(in).constData(), &info), 0);
        QCOMPARE(info.st_mode & 0777, 0640u);
        const ProgramRun printed = run(tool(), {"-P", in});
        QCOMPARE(metadataValue(printed.out, "hasCuePoints"), "true");
        QVERIFY(metadataValue(printed.out, "cuePoints").contains("1 entries"));
        QVERIFY(run("flvmeta", {"--check", in}).out.contains("0 error(s)"));
    }

    // Past 2^24 ms (4 h 39 min) a timestamp needs its extension byte.
    void extendedTimestamps()
    {
        const QByteArray header("FLV\x01\x04\x00\x00\x00\x09\x00\x00\x00\x00", 13);
        // MP3 tags of two bytes at 0 and at 5 h (18,000,000 ms = 0x0112A880).
        const QByteArray first("\x08\x00\x00\x02\x00\x00\x00\x00\x00\x00\x00\x2e\xff"
                               "\x00\x00\x00\x0d",
                               17);
        const QByteArray late("\x08\x00\x00\x02\x12\xa8\x80\x01\x00\x00\x00\x2e\xff"
                              "\x00\x00\x00\x0d",
                              17);
        const QString in = path("five-hours.flv");
        write(in, header + first + late);
        QCOMPARE(run(tool(), {"-U", in}).exitCode, 0);
        const ProgramRun printed = run(tool(), {"-P", in});
        QCOMPARE(metadataValue(printed.out, "lasttimestamp"), "18000");
    }

    // Offsets past 4 GB: a sparse file of 16 MB tags, checked only with the heavy label.
    void offsetsPastFourGigabytes()
    {
        if (qEnvironmentVariable("QUILLORA_HEAVY") != "1")
            QSKIP("heavy: set QUILLORA_HEAVY=1");
        QTemporaryDir local;
        const QString in = local.path() + "/big.flv";
        QFile f(in);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray("FLV\x01\x01\x00\x00\x00\x09\x00\x00\x00\x00", 13));
        const quint32 body = 0xfffff0;
        qint64 at = 13;
        for (int i = 0; i < 260; ++i) {
            // A key frame of Sorenson H.263 every tag, one a second; the rest of the body is
            // left as a hole.
            QByteArray tag;
            tag += char(9);
            tag += char(body >> 16) + QByteArray(1, char(body >> 8)) + char(body);
            const quint32 ms = quint32(i) * 1000;
            tag += char(ms >> 16) + QByteArray(1, char(ms >> 8)) + char(ms) + char(ms >> 24);
            tag += QByteArray(3, '\0');
            tag += QByteArray("\x12\x00\x00\x84\x00\x50\x3c\x00", 8);
            QVERIFY(f.seek(at));
            f.write(tag);
            at += 11 + body;
            QVERIFY(f.seek(at));
            const quint32 size = 11 + body;
            f.write(QByteArray(1, char(size >> 24)) + char(size >> 16) + char(size >> 8) +
                    char(size));
            at += 4;
        }
        f.close();
        QVERIFY(QFileInfo(in).size() > (qint64(1) << 32));
        const QString out = local.path() + "/out.flv";
        const ProgramRun r = run(tool(), {"-U", in, out});
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        const ProgramRun printed = run(tool(), {"-P", out});
        QCOMPARE(metadataValue(printed.out, "filesize"), QString::number(QFileInfo(out).size()));
        const double lastKeyframe = metadataValue(printed.out, "lastkeyframelocation").toDouble();
        QVERIFY(lastKeyframe > 4294967296.0);
        QFile written(out);
        QVERIFY(written.open(QIODevice::ReadOnly));
        QVERIFY(written.seek(qint64(lastKeyframe)));
        const QByteArray tag = written.read(12);
        QCOMPARE(int(tag[0]), 9);
        QCOMPARE(int(quint8(tag[11])), 0x12);
    }

    // Cut and recorded files often end without the last tag's PreviousTagSize: such a file is
    // indexed as if it had one, and the new file gets it.
    void lastPreviousTagSizeMissing()
    {
        const QString whole = path("whole.flv"), cut = path("without-last-size.flv");
        QCOMPARE(run(tool(), {"-U", sorensonMp3(), whole}).exitCode, 0);
        QByteArray data = contents(sorensonMp3());
        data.chop(4);
        write(cut, data);
        const ProgramRun r = run(tool(), {"-U", cut});
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        QCOMPARE(undated(contents(cut)), undated(contents(whole)));
    }

    // A frame rate counts pictures, not AVC's configuration and end-of-sequence tags.
    void frameRateCountsPictures_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("rate");
        QTest::newRow("sorenson 25")
            << QStringList{"-f", "lavfi", "-i", "testsrc=rate=25", "-t", "2", "-c:v", "flv1"}
            << "25";
        const QStringList avc{"-pix_fmt", "yuv420p", "-c:v", "libx264", "-preset", "ultrafast"};
        QTest::newRow("avc 30") << QStringList{"-f", "lavfi", "-i", "testsrc=size=320x240:rate=30",
                                               "-t", "3"} +
                                       avc
                                << "30";
        QTest::newRow("avc 30 with aac")
            << QStringList{"-f", "lavfi", "-i",   "testsrc=size=320x240:rate=30",
                           "-f", "lavfi", "-i",   "sine",
                           "-t", "3",     "-c:a", "aac"} +
                   avc
            << "30";
        QTest::newRow("avc 24, one second")
            << QStringList{"-f", "lavfi", "-i", "testsrc=size=160x120:rate=24", "-t", "1"} + avc
            << "24";
        QTest::newRow("avc ntsc") << QStringList{"-f", "lavfi",
                                                 "-i", "testsrc=size=160x120:rate=30000/1001",
                                                 "-t", "3"} +
                                         avc
                                  << "29.97";
        QTest::newRow("sorenson 12.5")
            << QStringList{"-f", "lavfi", "-i", "testsrc=rate=12.5", "-t", "4", "-c:v", "flv1"}
            << "12.5";
    }

    void frameRateCountsPictures()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, rate);
        const QString in =
            make(QString(QTest::currentDataTag()).replace(' ', '_') + "-rate.flv", arguments);
        const QString out = in + ".out.flv";
        const ProgramRun r = run(tool(), {"-U", in, out});
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        QCOMPARE(metadataValue(run(tool(), {"-P", out}).out, "framerate"), rate);
    }

    void injectingTwiceIsStable()
    {
        const QString once = path("once.flv"), twice = path("twice.flv");
        QCOMPARE(run(tool(), {"-U", sorensonMp3(), once}).exitCode, 0);
        QCOMPARE(run(tool(), {"-U", once, twice}).exitCode, 0);
        // Only metadatadate may differ.
        QCOMPARE(undated(contents(twice)), undated(contents(once)));
    }

    void sameFileSpellings()
    {
        const QString original = sorensonMp3();
        const QString in = path("same.flv");
        QFile::remove(in);
        QVERIFY(QFile::copy(original, in));
        QVERIFY(QFile::link(in, path("link.flv")));
        for (const QStringList& arguments : {QStringList{"-U", in}, QStringList{"-U", in, in},
                                             QStringList{"-U", in, dir.path() + "/./same.flv"},
                                             QStringList{"-U", in, path("link.flv")}}) {
            const ProgramRun r = run(tool(), arguments);
            QVERIFY2(r.exitCode == 0, qPrintable(r.err));
            QVERIFY(run("flvmeta", {"--check", in}).out.contains("0 error(s), 0 warning(s)"));
        }
        QVERIFY(QFileInfo(path("link.flv")).isSymLink());
        QCOMPARE(QDir(dir.path()).entryList({".*part*"}, QDir::Hidden | QDir::Files),
                 QStringList());
    }

    // The output is the file that OUT names: through a symbolic link, the file it points to,
    // and a hard link to the input is a name of its own. Once, the input itself was replaced
    // and OUT kept its old contents, and a link named as OUT became a plain file.
    void outputNamesItsFile_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("hard link to the input") << "hard";
        QTest::newRow("symbolic link to another file") << "symbolic";
    }

    void outputNamesItsFile()
    {
        QFETCH(QString, kind);
        const QString in = path("named-" + kind + ".flv"), out = path("named-" + kind + "-out.flv"),
                      other = path("named-" + kind + "-other.flv");
        for (const QString& f : {in, out, other})
            QFile::remove(f);
        QVERIFY(QFile::copy(sorensonMp3(), in));
        const QByteArray before = contents(in);
        QString written = out;
        if (kind == "hard") {
            QCOMPARE(::link(QFile::encodeName(in).constData(), QFile::encodeName(out).constData()),
                     0);
        } else {
            QVERIFY(QFile::copy(in, other));
            QVERIFY(QFile::link(other, out));
            written = other;
        }
        const ProgramRun r = run(tool(), {"-U", in, out});
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        QCOMPARE(contents(in), before);
        QVERIFY(contents(written) != before);
        QVERIFY(run("flvmeta", {"--check", written}).out.contains("0 error(s), 0 warning(s)"));
        QCOMPARE(QFileInfo(out).isSymLink(), kind == "symbolic");
    }

    // A file replaced in place keeps its owner, group, permissions and extended attributes;
    // once, run as root, it became root's, set-user bit and all, and lost its attributes. A
    // new file gets the input's permissions as the umask allows, and no set-user bit.
    void ownershipAndPermissions()
    {
        if (::geteuid() != 0)
            QSKIP("giving a file to another user needs root");
        const QString in = path("owned.flv");
        QFile::remove(in);
        QVERIFY(QFile::copy(sorensonMp3(), in));
        const QByteArray name = QFile::encodeName(in);
        QCOMPARE(::chown(name.constData(), 65534, 65534), 0);
        QCOMPARE(::chmod(name.constData(), 06750), 0);
        QCOMPARE(::setxattr(name.constData(), "user.note", "kept", 4, 0), 0);
        ProgramRun r = run(tool(), {"-U", in});
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        struct stat info
        {
        };
        QCOMPARE(::stat(name.constData(), &info), 0);
        QCOMPARE(info.st_uid, uid_t(65534));
        QCOMPARE(info.st_gid, gid_t(65534));
        QCOMPARE(info.st_mode & 07777, mode_t(06750));
        char note[8] = {};
        QCOMPARE(::getxattr(name.constData(), "user.note", note, sizeof note), ssize_t(4));
        QCOMPARE(QByteArray(note), QByteArray("kept"));

        const QString out = path("owned-copy.flv");
        QFile::remove(out);
        const mode_t mask = ::umask(027);
        r = run(tool(), {"-U", in, out});
        ::umask(mask);
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        QCOMPARE(::stat(QFile::encodeName(out).constData(), &info), 0);
        QCOMPARE(info.st_uid, ::geteuid());
        QCOMPARE(info.st_mode & 07777, mode_t(0750));
    }

    // A FIFO is no file to read twice; once, the tool waited on it for ever.
    void fifoInputIsRefused()
    {
        const QString fifo = path("pipe.flv");
        QFile::remove(fifo);
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0644), 0);
        QProcess p;
        p.start(tool(), {"-U", fifo, path("from-pipe.flv")});
        QVERIFY2(p.waitForFinished(10000), "flvtool2 waited on the FIFO");
        QCOMPARE(p.exitCode(), 1);
        QVERIFY(!QFile::exists(path("from-pipe.flv")));
    }

    void badInputsChangeNothing_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QString>("problem");
        const QByteArray header = QByteArray("FLV\x01\x05\x00\x00\x00\x09\x00\x00\x00\x00", 13);
        // An audio tag of 2 bytes at time 0, and its PreviousTagSize.
        const QByteArray tag("\x08\x00\x00\x02\x00\x00\x00\x00\x00\x00\x00\x2e\x00", 13);
        const QByteArray size("\x00\x00\x00\x0d", 4);
        QTest::newRow("not an FLV") << QByteArray("RIFF....AVI LIST") << "no FLV signature";
        QTest::newRow("truncated header") << QByteArray("FLV\x01") << "too short";
        QTest::newRow("no tags") << header << "no tags";
        QTest::newRow("only tag cut off") << header + tag.left(12) << "the last tag is cut off";
        QTest::newRow("last tag cut off")
            << header + tag + size + tag + size + tag.left(12) << "the last tag is cut off";
        QTest::newRow("previous tag size wrong")
            << header + tag + QByteArray("\x00\x00\x00\x0c", 4) << "PreviousTagSize";
        const QByteArray badAmf("\x02\x00\x0aonMetaData\x08\x00\x00\x00\x01\x00\x01x\x11", 22);
        QByteArray script("\x12\x00\x00\x16\x00\x00\x00\x00\x00\x00\x00", 11);
        QTest::newRow("unreadable old metadata")
            << header + script + badAmf + QByteArray("\x00\x00\x00\x21", 4) + tag + size
            << "unreadable onMetaData";
        QTest::newRow("last tag header cut off")
            << header + tag + size + tag.left(5) << "the last tag is cut off";
    }

    void badInputsChangeNothing()
    {
        QFETCH(QByteArray, data);
        QFETCH(QString, problem);
        QTemporaryDir local;
        const QString in = local.path() + "/bad.flv";
        write(in, data);
        for (const QStringList& arguments :
             {QStringList{"-U", in}, QStringList{"-U", in, local.path() + "/out.flv"}}) {
            const ProgramRun r = run(tool(), arguments);
            QCOMPARE(r.exitCode, 3);
            QVERIFY2(r.err.contains(problem) && r.err.contains("bad.flv") &&
                         r.err.contains("offset"),
                     qPrintable(r.err));
            QCOMPARE(contents(in), data);
            QCOMPARE(QDir(local.path()).entryList(QDir::Files | QDir::Hidden),
                     QStringList{"bad.flv"});
        }
    }

    // Killed at any moment, the file is either the old one, byte for byte, or the complete new
    // one, and nothing else is left in the folder.
    void killDuringWriteLeavesOneWholeFile()
    {
        const QString big = path("big.flv");
        if (!QFile::exists(big)) {
            // A long file made fast: the same short encode joined 250 times.
            QFile list(path("list.txt"));
            QVERIFY(list.open(QIODevice::WriteOnly));
            const QByteArray line = "file '" + sorensonMp3().toUtf8() + "'\n";
            for (int i = 0; i < 250; ++i)
                list.write(line);
            list.close();
            QCOMPARE(run("ffmpeg", {"-v", "error", "-f", "concat", "-safe", "0", "-i",
                                    list.fileName(), "-c", "copy", big})
                         .exitCode,
                     0);
        }
        const QByteArray original = contents(big);
        QVERIFY(original.size() > 20'000'000);
        int oldSeen = 0, newSeen = 0;
        for (int delay : {0, 2, 5, 10, 20, 40, 80, 160}) {
            QTemporaryDir local;
            const QString target = local.path() + "/movie.flv";
            QVERIFY(QFile::copy(big, target));
            QProcess p;
            p.start(tool(), {"-U", target});
            QVERIFY(p.waitForStarted());
            QThread::msleep(delay);
            ::kill(pid_t(p.processId()), SIGKILL);
            p.waitForFinished();
            QCOMPARE(QDir(local.path()).entryList(QDir::Files | QDir::Hidden),
                     QStringList{"movie.flv"});
            const QByteArray now = contents(target);
            if (now == original) {
                ++oldSeen;
            } else {
                ++newSeen;
                QVERIFY(runProgram("flvmeta", {"--check", target}).out.contains("0 error(s)"));
            }
        }
        qInfo() << "old file kept" << oldSeen << "times, new file complete" << newSeen << "times";
    }

    void fullDiskLeavesOriginal()
    {
        QTemporaryDir local;
        const QString in = local.path() + "/a.flv";
        QVERIFY(QFile::copy(sorensonMp3(), in));
        const QByteArray before = contents(in);
        const ProgramRun r = run(tool(), {"-U", in}, 64 * 1024);
        QCOMPARE(r.exitCode, 1);
        QCOMPARE(contents(in), before);
        QCOMPARE(QDir(local.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"a.flv"});
    }

    // Memory follows what the file holds, never a count it claims nor the shape of its values:
    // every input up to 100 MB is read and written in 32 MB.
    void memoryBoundedByTheFile_data()
    {
        QTest::addColumn<int>("crafted");
        QTest::addColumn<int>("updateExitCode");
        QTest::addColumn<QString>("printedLine"); // in -P of the written file
        QTest::newRow("4 MB of nulls in a cue point")
            << int(CueNulls) << 0 << "cuePoints: [1 entries]";
        QTest::newRow("a cue point filling its tag") << int(CueFillingItsTag) << 1 << "";
        QTest::newRow("an ECMA array filling the old metadata")
            << int(MetadataEcmaFillingItsTag) << 0 << "hasCuePoints: false";
        QTest::newRow("objects nested to the depth limit in a cue point")
            << int(CueNestedObjects) << 0 << "cuePoints: [1 entries]";
        // Copied, but left out of the index, where it would be too deep to read back.
        QTest::newRow("a cue point too deep for the index")
            << int(CueTooDeepForTheIndex) << 0 << "hasCuePoints: false";
        QTest::newRow("objects nested to the depth limit in the old metadata")
            << int(MetadataNestedObjects) << 0 << "hasCuePoints: false";
        QTest::newRow("a long string in a cue point")
            << int(CueLongString) << 0 << "cuePoints: [1 entries]";
        QTest::newRow("a long string in the old metadata")
            << int(MetadataLongString) << 0 << "hasCuePoints: false";
        QTest::newRow("a full index, then a full old metadata")
            << int(FullIndexThenFullMetadata) << 0 << "cuePoints: [5 entries]";
        QTest::newRow("many small cue points")
            << int(ManySmallCuePoints) << 0 << "hasCuePoints: true";
        QTest::newRow("many small tags") << int(ManySmallTags) << 0 << "hasCuePoints: false";
        QTest::newRow("more keyframes than one tag holds") << int(ManyKeyframes) << 1 << "";
        QTest::newRow("as many keyframes as one tag holds")
            << int(KeyframesFillingTheTag) << 0 << "keyframes: 900000 entries";
    }

    void memoryBoundedByTheFile()
    {
        QFETCH(int, crafted);
        QFETCH(int, updateExitCode);
        QFETCH(QString, printedLine);
        QVERIFY2(QFile::exists("/usr/bin/time"), "GNU time (Debian's time package) is needed");
        QTemporaryDir local;
        const QString in = local.path() + "/crafted.flv";
        {
            QFile f(in);
            QVERIFY(f.open(QIODevice::WriteOnly));
            writeCrafted(f, Crafted(crafted));
            QVERIFY(f.size() <= largestInput);
        }
        const QByteArray before = fileHash(in);
        const QString out = local.path() + "/out.flv";
        const Measured update = measured(tool(), {"-U", in, out});
        const Measured print = measured(tool(), {"-P", in});
        qInfo("%s: %lld MB in, peak %lld kB for -U, %lld kB for -P", QTest::currentDataTag(),
              QFileInfo(in).size() >> 20, update.peakKilobytes, print.peakKilobytes);
        QVERIFY2(update.exitCode == updateExitCode, qPrintable(update.err));
        QCOMPARE(print.exitCode, 0);
        QVERIFY(update.peakKilobytes > 0 && print.peakKilobytes > 0);
        QVERIFY(update.peakKilobytes <= 32 * 1024);
        QVERIFY(print.peakKilobytes <= 32 * 1024);
        QCOMPARE(fileHash(in), before);
        if (updateExitCode != 0) {
            QVERIFY2(update.err.contains("does not fit") || update.err.contains("do not fit"),
                     qPrintable(update.err));
            QCOMPARE(QDir(local.path()).entryList(QDir::Files | QDir::Hidden),
                     QStringList{"crafted.flv"});
            return;
        }
        const Measured printOut = measured(tool(), {"-P", out});
        QVERIFY(printOut.peakKilobytes <= 32 * 1024);
        QVERIFY2(run(tool(), {"-P", out}).out.split('\n').contains(printedLine),
                 qPrintable(printedLine));
    }

    // Any date is printed as a date or as invalid, never undefined behaviour.
    void printsDates_data()
    {
        QTest::addColumn<double>("milliseconds");
        QTest::addColumn<QString>("printed");
        QTest::newRow("epoch") << 0.0 << "1970-01-01T00:00:00Z";
        QTest::newRow("a second before") << -1.0 << "1969-12-31T23:59:59Z";
        QTest::newRow("2024") << 1.7e12 << "2023-11-14T22:13:20Z";
        QTest::newRow("last day") << 8.64e15 << "275760-09-13T00:00:00Z";
        QTest::newRow("first day") << -8.64e15 << "-271821-04-20T00:00:00Z";
        QTest::newRow("just past") << 8.64e15 + 1 << "invalid date";
        QTest::newRow("far out of range") << 1e297 << "invalid date";
        QTest::newRow("far before") << -1e297 << "invalid date";
        QTest::newRow("not a number") << std::numeric_limits<double>::quiet_NaN() << "invalid date";
        QTest::newRow("infinite") << std::numeric_limits<double>::infinity() << "invalid date";
    }

    void printsDates()
    {
        QFETCH(double, milliseconds);
        QFETCH(QString, printed);
        QTemporaryDir local;
        const QString in = local.path() + "/dated.flv";
        write(in, audioHeader + audioTag(0) +
                      scriptTag(metadataWith("metadatadate", amfDate(milliseconds))) +
                      audioTag(40));
        QStringList tools{tool()};
        // The sanitized build stops at undefined behaviour.
        if (const QString sanitized = qEnvironmentVariable("QUILLORA_SANITIZED_BIN_DIR");
            !sanitized.isEmpty())
            tools << sanitized + "/flvtool2";
        for (const QString& program : tools) {
            const ProgramRun r = run(program, {"-P", in});
            QVERIFY2(r.exitCode == 0, qPrintable(program + ": " + r.err));
            QCOMPARE(metadataValue(r.out, "metadatadate"), printed);
        }
    }

    // Output that cannot be written is a failure, whichever file it goes to.
    void printingToAFullDiskFails()
    {
        QTemporaryDir local;
        const QString in = local.path() + "/a.flv";
        write(in, audioHeader + audioTag(0) +
                      scriptTag(metadataWith("title", amfLongString(100000))) + audioTag(40));
        QProcess p;
        p.setStandardOutputFile("/dev/full");
        p.start(tool(), {"-P", in});
        QVERIFY(p.waitForFinished());
        QCOMPARE(p.exitCode(), 1);
        QVERIFY(!p.readAllStandardError().isEmpty());
    }

    void commandLine_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("nothing") << QStringList{} << 2;
        QTest::newRow("unknown") << QStringList{"-X", "a.flv"} << 2;
        QTest::newRow("too many") << QStringList{"-U", "a", "b", "c"} << 2;
        QTest::newRow("help") << QStringList{"--help"} << 0;
        QTest::newRow("version") << QStringList{"--version"} << 0;
        QTest::newRow("missing file") << QStringList{"-U", "/nonexistent/a.flv"} << 1;
        QTest::newRow("print without a file") << QStringList{"-P"} << 2;
        QTest::newRow("print a missing file") << QStringList{"-P", "/nonexistent/a.flv"} << 1;
        QTest::newRow("print a folder") << QStringList{"-P", "/"} << 1;
        QTest::newRow("print what is not an FLV")
            << QStringList{"-P", qEnvironmentVariable("QUILLORA_SOURCE_DIR") + "/README.md"} << 3;
    }

    void commandLine()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QCOMPARE(run(tool(), arguments).exitCode, exitCode);
    }
};

QTEST_GUILESS_MAIN(TestFlvtool2)
#include "tst_Flvtool2.moc"
