// A mutation run of our encoder over damaged sources. Seeds of 2 s (AVI, MP4, MPEG-PS, FLV)
// are made with Debian's ffmpeg; each run damages one (flipped bytes, a cut, inserted garbage)
// and encodes it under a time limit. Every run must end on its own with exit code 0 or 1 and
// no sanitizer report; exit code 1 with a message and nothing beside the source; exit code 0
// with an FLV that ffprobe decodes and nothing else. An input that fails is kept in the
// findings folder, named after what it shows; kept in tests/data/encoder-fuzz/, it is replayed
// by every run.
//
// With --runs, each seed given mutates that many inputs, so that a commit gets the same answer
// every time; without, one seed (the clock's unless given) mutates for --seconds.
//
// Usage: fuzz_encoder FFMPEG [--seconds N | --runs N] [--seed N]... [--timeout SECONDS]
//                     [--replay FOLDER]... [--findings FOLDER]
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <cstdio>
#include <map>

namespace {

struct Seed
{
    QString name; // also the file's extension
    QStringList make;
};

// Small pictures keep a run short; the codecs are those such files usually hold.
const QList<Seed> seeds = {
    {"avi",
     {"-f", "lavfi", "-i", "testsrc=size=160x120:rate=25", "-f", "lavfi", "-i", "sine", "-t", "2",
      "-c:v", "mpeg4", "-c:a", "pcm_s16le"}},
    {"mp4",
     {"-f", "lavfi", "-i", "testsrc=size=160x120:rate=25", "-f", "lavfi", "-i", "sine", "-t", "2",
      "-c:v", "libx264", "-preset", "ultrafast", "-c:a", "aac"}},
    {"mpg",
     {"-f", "lavfi", "-i", "testsrc=size=160x120:rate=25", "-f", "lavfi", "-i", "sine", "-t", "2",
      "-c:v", "mpeg2video", "-c:a", "mp2", "-f", "mpeg"}},
    {"flv",
     {"-f", "lavfi", "-i", "testsrc=size=160x120:rate=25", "-f", "lavfi", "-i", "sine", "-t", "2",
      "-c:v", "flv1", "-c:a", "libmp3lame", "-ar", "22050"}},
};

// The settings the desktop program writes, in a few combinations.
const QList<QStringList> settings = {
    {"-b", "468kb/s", "-r", "25", "-s", "240x180", "-ar", "22050Hz", "-ab", "48", "-ac", "1"},
    {"-b", "225kb/s", "-r", "25", "-s", "160x120", "-an"},
    {"-b", "768kb/s", "-r", "25", "-s", "320x240", "-deinterlace", "-ar", "44100Hz", "-ab", "96",
     "-ac", "2"},
};

QByteArray mutate(QByteArray data, QRandomGenerator& random)
{
    const auto offset = [&] {
        // Half the damage goes to the first kilobyte, where the headers are.
        const qint64 range = random.bounded(2) ? std::min<qint64>(1024, data.size()) : data.size();
        return range > 0 ? random.bounded(range) : 0;
    };
    const int count = 1 + random.bounded(4);
    for (int i = 0; i < count && !data.isEmpty(); ++i) {
        switch (random.bounded(5)) {
        case 0: // flipped bits
            for (int n = 1 + random.bounded(16); n > 0; --n) {
                const qint64 at = offset();
                data[at] = char(data[at] ^ (1 << random.bounded(8)));
            }
            break;
        case 1: { // a byte with a value that often means something (a size, a sign)
            static const char values[] = {0, char(0xff), char(0x7f), char(0x80), 1};
            data[offset()] = values[random.bounded(int(sizeof values))];
            break;
        }
        case 2: // cut off
            data.truncate(offset());
            break;
        case 3: { // garbage inserted
            QByteArray garbage(1 + random.bounded(4096), Qt::Uninitialized);
            for (char& c : garbage)
                c = char(random.bounded(256));
            data.insert(offset(), garbage);
            break;
        }
        case 4: { // a piece of the file again, elsewhere
            const qint64 from = offset();
            data.insert(offset(), data.mid(from, 1 + random.bounded(2048)));
            break;
        }
        }
    }
    return data;
}

struct Verdict
{
    QString finding; // empty when the run behaved
    QString detail;
    int exitCode = -1;
};

class Fuzzer
{
public:
    Fuzzer(QString ffmpeg, int timeout, QString findings)
        : m_ffmpeg(std::move(ffmpeg)), m_timeout(timeout), m_findings(std::move(findings))
    {}

    // One encode of `data` (a file of type `extension`); true when it behaved.
    bool run(const QByteArray& data, const QString& extension, const QStringList& options,
             const QString& origin)
    {
        QTemporaryDir dir;
        const QString input = dir.filePath("source." + extension);
        const QString output = dir.filePath("out.flv");
        QFile file(input);
        if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size())
            return report("harness", "cannot write " + input, data, extension, origin);
        file.close();
        const Verdict verdict = judge(dir, input, output, options);
        ++m_runs;
        ++m_exitCodes[verdict.exitCode];
        if (verdict.finding.isEmpty())
            return true;
        return report(verdict.finding, verdict.detail + "\noptions: " + options.join(' '), data,
                      extension, origin);
    }

    void summary() const
    {
        QString codes;
        for (const auto& [code, count] : m_exitCodes)
            codes += QString(" exit %1: %2").arg(code).arg(count);
        std::printf("%d runs (%s), %d findings\n", m_runs, qPrintable(codes.trimmed()), m_failures);
    }
    int failures() const { return m_failures; }

private:
    Verdict judge(const QTemporaryDir& dir, const QString& input, const QString& output,
                  const QStringList& options) const
    {
        QProcess p;
        auto environment = QProcessEnvironment::systemEnvironment();
        environment.insert("ASAN_OPTIONS", "detect_leaks=1:exitcode=86:abort_on_error=0");
        environment.insert("UBSAN_OPTIONS", "print_stacktrace=1:halt_on_error=1:exitcode=87");
        environment.remove("QUILLORA_PROGRESS_WINDOW");
        p.setProcessEnvironment(environment);
        p.start(m_ffmpeg, QStringList{"-i", input, "-y"} + options + QStringList{output});
        p.closeWriteChannel();
        if (!p.waitForFinished(m_timeout * 1000)) {
            p.kill();
            p.waitForFinished();
            return {"hang", QString("still running after %1 s").arg(m_timeout)};
        }
        const QString err = QString::fromUtf8(p.readAllStandardError());
        if (p.exitStatus() != QProcess::NormalExit)
            return {"crash", "killed by a signal\n" + err};
        const int code = p.exitCode();
        if (err.contains("Sanitizer") || err.contains("runtime error:"))
            return {"sanitizer", err, code};
        if (code != 0 && code != 1)
            return {"exit-code", QString("exit code %1\n").arg(code) + err, code};
        QStringList expected{QFileInfo(input).fileName()};
        if (code == 0)
            expected << "out.flv";
        expected.sort();
        const QStringList left = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name);
        if (left != expected)
            return {"left-files",
                    "exit code " + QString::number(code) + ", files: " + left.join(", ") + "\n" +
                        err,
                    code};
        if (code == 1) {
            if (!err.startsWith("ffmpeg: "))
                return {"no-message", "exit code 1 without a message\n" + err, code};
            return {{}, {}, code};
        }
        const QString problem = undecodable(output);
        if (!problem.isEmpty())
            return {"bad-output", problem, code};
        return {{}, {}, code};
    }

    // Why ffprobe cannot decode every frame of the FLV, or nothing.
    QString undecodable(const QString& flv) const
    {
        QProcess probe;
        probe.start("ffprobe", {"-v", "error", "-count_frames", "-show_entries",
                                "stream=codec_name,nb_read_frames", "-of", "csv=p=0", flv});
        if (!probe.waitForFinished(m_timeout * 1000)) {
            probe.kill();
            probe.waitForFinished();
            return "ffprobe did not finish";
        }
        const QString out = QString::fromUtf8(probe.readAllStandardOutput()).trimmed();
        const QString err = QString::fromUtf8(probe.readAllStandardError()).trimmed();
        if (probe.exitCode() != 0 || !err.isEmpty())
            return "ffprobe: " + err;
        for (const QString& line : out.split('\n')) {
            const QStringList fields = line.split(',');
            if (fields.size() != 2 || fields[1].toInt() <= 0)
                return "a stream without decodable frames: " + line;
        }
        if (out.isEmpty())
            return "no streams";
        return {};
    }

    bool report(const QString& finding, const QString& detail, const QByteArray& data,
                const QString& extension, const QString& origin)
    {
        ++m_failures;
        const QString hash =
            QCryptographicHash::hash(data, QCryptographicHash::Sha1).toHex().left(10);
        QString kept;
        if (!m_findings.isEmpty() && QDir().mkpath(m_findings)) {
            kept = m_findings + "/" + finding + "-" + hash + "." + extension;
            QFile file(kept);
            if (file.open(QIODevice::WriteOnly))
                file.write(data);
        }
        std::printf("FINDING %s (%s%s)\n%s\n", qPrintable(finding), qPrintable(origin),
                    kept.isEmpty() ? "" : qPrintable(", kept as " + kept),
                    qPrintable(detail.left(4000)));
        std::fflush(stdout);
        return false;
    }

    QString m_ffmpeg;
    int m_timeout;
    QString m_findings;
    int m_runs = 0;
    int m_failures = 0;
    std::map<int, int> m_exitCodes;
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    QStringList arguments = application.arguments().mid(1);
    if (arguments.isEmpty() || arguments[0].startsWith('-')) {
        std::fprintf(stderr, "usage: fuzz_encoder FFMPEG [--seconds N | --runs N] [--seed N]... "
                             "[--timeout S] [--replay FOLDER]... [--findings FOLDER]\n");
        return 2;
    }
    const QString ffmpeg = arguments.takeFirst();
    int seconds = 60, runs = 0, timeout = 30;
    QList<quint32> fixedSeeds;
    QStringList replay;
    QString findings;
    while (arguments.size() >= 2) {
        const QString option = arguments.takeFirst(), value = arguments.takeFirst();
        if (option == "--seconds")
            seconds = value.toInt();
        else if (option == "--runs")
            runs = value.toInt();
        else if (option == "--seed")
            fixedSeeds << value.toUInt();
        else if (option == "--timeout")
            timeout = value.toInt();
        else if (option == "--replay")
            replay << value;
        else if (option == "--findings")
            findings = value;
    }
    Fuzzer fuzzer(ffmpeg, timeout, findings);

    // Inputs that once failed: each with its own extension, under every setting.
    int replayed = 0;
    for (const QString& folder : replay)
        for (const QFileInfo& file : QDir(folder).entryInfoList(QDir::Files, QDir::Name)) {
            QFile f(file.filePath());
            if (!f.open(QIODevice::ReadOnly))
                continue;
            const QByteArray data = f.readAll();
            for (const QStringList& options : settings)
                fuzzer.run(data, file.suffix(), options, "replay of " + file.fileName());
            ++replayed;
        }
    std::printf("replayed %d kept inputs\n", replayed);

    QTemporaryDir work;
    QList<QByteArray> seedData;
    for (const Seed& s : seeds) {
        const QString path = work.filePath("seed." + s.name);
        QProcess make;
        make.start("ffmpeg", QStringList{"-v", "error", "-y"} + s.make + QStringList{path});
        make.waitForFinished(120000);
        QFile f(path);
        if (make.exitCode() != 0 || !f.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "ffmpeg could not make the %s seed: %s\n", qPrintable(s.name),
                         make.readAllStandardError().constData());
            return 1;
        }
        seedData << f.readAll();
        // The undamaged seed must pass, or every finding would be noise.
        if (!fuzzer.run(seedData.last(), s.name, settings[0], "undamaged seed"))
            return 1;
    }

    if (fixedSeeds.isEmpty())
        fixedSeeds << QRandomGenerator::system()->generate();
    for (const quint32 seed : fixedSeeds) {
        if (runs > 0)
            std::printf("mutating with seed %u, %d runs\n", seed, runs);
        else
            std::printf("mutating with seed %u for %d s\n", seed, seconds);
        std::fflush(stdout);
        QRandomGenerator random(seed);
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; runs > 0 ? i < runs : clock.elapsed() < seconds * 1000LL; ++i) {
            const int which = i % int(seeds.size());
            fuzzer.run(mutate(seedData[which], random), seeds[which].name,
                       settings[random.bounded(int(settings.size()))],
                       QString("seed %1, run %2, from the %3 seed")
                           .arg(seed)
                           .arg(i)
                           .arg(seeds[which].name));
        }
    }
    fuzzer.summary();
    return fuzzer.failures() ? 1 : 0;
}
