#pragma once

#include <QFile>
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
