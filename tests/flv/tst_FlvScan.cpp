// The same scan from a file and from memory, of made files and of every FLV the tests keep,
// and files that cannot be scanned.
#include "flv/Amf0.h"
#include "flv/Bytes.h"
#include "flv/FlvScanner.h"
#include "flv/MetadataInjector.h"
#include "flv/MetadataTag.h"

#include <QDir>
#include <QTemporaryFile>
#include <QTest>

#include <system_error>

using namespace quillora::flv;

namespace {

void appendTag(std::string& file, int type, std::uint32_t timestamp, const std::string& body)
{
    TagHeader{type, static_cast<std::uint32_t>(body.size()), timestamp}.render(file);
    file += body;
    appendUInt32BE(file, static_cast<std::uint32_t>(tagHeaderSize + body.size()));
}

// An FLV with something of each kind the scan reads: an old onMetaData, an AVC configuration,
// pictures and a video info frame, audio, and a cue point too large for the file's read-ahead.
std::string madeFile()
{
    std::string file;
    FlvHeader{true, true}.render(file);
    appendUInt32BE(file, 0);
    std::string metadata;
    AmfWriter amf(metadata);
    amf.string("onMetaData");
    amf.beginEcmaArray(1);
    amf.key("duration");
    amf.number(1);
    amf.endObject();
    appendTag(file, ScriptTag, 0, metadata);
    // The configuration that Debian's ffmpeg writes for 176x144 with libx264.
    appendTag(file, VideoTag, 0,
              std::string("\x17\x00\x00\x00\x00\x01\xf4\x00\x0b\xff\xe1\x00\x19\x67\xf4\x00\x0b"
                          "\x91\x9b\x28\x58\x9d\x80\x88\x00\x00\x03\x00\x08\x00\x00\x03\x01\xe0"
                          "\x78\xa1\x4c\xb0\x01\x00\x06\x68\xeb\xe3\xc4\x48\x44\xff\xf8\xf8\x00",
                          51));
    for (std::uint32_t ms = 0; ms < 200; ms += 40) {
        appendTag(file, VideoTag, ms, std::string(ms == 0 ? "\x17\x01" : "\x27\x01", 2) + "pic");
        appendTag(file, AudioTag, ms + 3, "\x2e\xff\xfb");
    }
    appendTag(file, VideoTag, 200, std::string("\x50\x00", 2));
    std::string cue;
    AmfWriter cueAmf(cue);
    cueAmf.string("onCuePoint");
    cueAmf.beginObject();
    cueAmf.key("name");
    cueAmf.string(std::string(100000, 'c'));
    cueAmf.endObject();
    appendTag(file, ScriptTag, 120, cue);
    return file;
}

// What a scan gave, as text to compare: its error, or what it found and the metadata it makes.
std::string scanned(const std::function<FlvScan()>& scan)
{
    try {
        const FlvScan result = scan();
        std::string text = std::to_string(result.keptBytes);
        for (const ByteRange& range : result.kept)
            text += " " + std::to_string(range.begin) + "-" + std::to_string(range.end);
        if (result.oldMetadata)
            text += " old " + std::to_string(result.oldMetadata->begin);
        try {
            return text + "\n" + MetadataTag(result, 0, "test").render();
        } catch (const RenderError& error) {
            return text + " RenderError " + error.what();
        }
    } catch (const FormatError& error) {
        return "FormatError " + std::to_string(error.offset()) + " " + error.what();
    }
}

std::string scannedFromMemory(const std::string& bytes)
{
    MemorySource source({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
    return scanned([&] { return scanFlv(source); });
}

std::string scannedFromFile(QTemporaryFile& file, const std::string& bytes)
{
    if (!file.resize(0) || !file.seek(0) ||
        file.write(bytes.data(), qint64(bytes.size())) != qint64(bytes.size()) || !file.flush())
        return "cannot write " + file.fileName().toStdString();
    const quillora::platform::InputFile in(QFile::encodeName(file.fileName()).toStdString());
    FileSource source(in);
    return scanned([&] { return scanFlv(source); });
}

} // namespace

class TestFlvScan : public QObject
{
    Q_OBJECT

private slots:
    // A file and the same bytes in memory scan alike: whole, cut short anywhere, or damaged.
    void sourcesAgree_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("made") << QString();
        const QString data = qEnvironmentVariable("QUILLORA_SOURCE_DIR") + "/tests/data";
        for (const QString folder : {"fuzz-seeds", "encoder-fuzz"})
            for (const QFileInfo& file : QDir(data + "/" + folder).entryInfoList({"*.flv"}))
                QTest::newRow(qPrintable(file.fileName())) << file.filePath();
        if (!QDir(data).exists())
            QFAIL(qPrintable("no test files in " + data + " (is QUILLORA_SOURCE_DIR set?)"));
    }

    void sourcesAgree()
    {
        QFETCH(QString, name);
        std::string bytes = madeFile();
        if (!name.isEmpty()) {
            QFile in(name);
            QVERIFY(in.open(QIODevice::ReadOnly));
            bytes = in.readAll().toStdString();
        }
        QTemporaryFile file;
        QVERIFY(file.open());
        std::vector<std::size_t> cuts;
        for (std::size_t n = 0; n < std::min<std::size_t>(bytes.size(), 300); ++n)
            cuts.push_back(n);
        for (std::size_t k = 1; k < 64; ++k)
            cuts.push_back(bytes.size() * k / 64);
        for (std::size_t n : cuts) {
            const std::string cut = bytes.substr(0, n);
            QCOMPARE(scannedFromFile(file, cut), scannedFromMemory(cut));
        }
        for (std::size_t k = 0; k < 64; ++k) {
            std::string damaged = bytes;
            damaged[damaged.size() * k / 64] ^= 0x5a;
            QCOMPARE(scannedFromFile(file, damaged), scannedFromMemory(damaged));
        }
        const std::string whole = scannedFromMemory(bytes);
        QCOMPARE(scannedFromFile(file, bytes), whole);
        if (name.isEmpty()) {
            // A picture size from the configuration, and every tag kept but the old onMetaData
            // (a tag of 40 bytes, after the file's 13).
            QVERIFY(whole.find(std::string("\x00\x05width", 7)) != std::string::npos);
            QCOMPARE(whole.substr(0, whole.find(' ')),
                     std::to_string(bytes.size() - 13 - (tagHeaderSize + 40 + 4)));
        }
    }

    // A file that cannot be read is a failure to read, not a format error.
    void unreadableFile_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("a folder") << QDir::tempPath();
        QTest::newRow("no such file") << QDir::tempPath() + "/quillora-no-such-file.flv";
    }

    void unreadableFile()
    {
        QFETCH(QString, path);
        QVERIFY_THROWS_EXCEPTION(std::system_error, (void)scanFlv(quillora::platform::InputFile(
                                                        QFile::encodeName(path).toStdString())));
    }
};

QTEST_APPLESS_MAIN(TestFlvScan)
#include "tst_FlvScan.moc"
