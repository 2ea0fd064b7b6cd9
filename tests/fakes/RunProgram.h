#pragma once

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <sys/resource.h>

// One run of a command-line program, with nothing on its standard input.
struct ProgramRun
{
    int exitCode; // -1 when the program did not exit normally
    QString out;
    QString err;
};

// fileSizeLimit > 0 caps the files the program may write, as a full disk would.
inline ProgramRun runProgram(const QString& program, const QStringList& arguments,
                             qint64 fileSizeLimit = 0)
{
    QProcess p;
    if (fileSizeLimit)
        p.setChildProcessModifier([fileSizeLimit] {
            rlimit limit{rlim_t(fileSizeLimit), rlim_t(fileSizeLimit)};
            setrlimit(RLIMIT_FSIZE, &limit);
        });
    p.start(program, arguments);
    p.closeWriteChannel();
    p.waitForFinished(300000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

inline QByteArray fileContents(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A test source made once by Debian's ffmpeg from its arguments; the path it was written to.
inline QString makeMedia(const QString& path, const QStringList& ffmpegArguments)
{
    if (!QFile::exists(path)) {
        const ProgramRun r = runProgram("ffmpeg", QStringList{"-v", "error", "-y"} +
                                                      ffmpegArguments + QStringList{path});
        if (r.exitCode != 0)
            qWarning("ffmpeg could not make %s: %s", qPrintable(path), qPrintable(r.err));
    }
    return path;
}

// ffprobe's description of a file: its streams and format.
inline QJsonObject probeMedia(const QString& file)
{
    const ProgramRun r = runProgram(
        "ffprobe", {"-v", "error", "-show_streams", "-show_format", "-of", "json", file});
    return QJsonDocument::fromJson(r.out.toUtf8()).object();
}

// The first stream of a type ("video", "audio") in ffprobe's description, or an empty object.
inline QJsonObject probedStream(const QJsonObject& probed, const QString& type)
{
    for (const auto& s : probed["streams"].toArray())
        if (s.toObject()["codec_type"].toString() == type)
            return s.toObject();
    return {};
}
