#pragma once

#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

// A temporary application folder holding the fake tool as "ffmpeg" and "flvtool2", and the
// log in which the fakes record their runs.
class FakeAppDir
{
public:
    explicit FakeAppDir(const QString& subfolder = "app folder")
    {
        m_path = m_root.path() + "/" + subfolder;
        QDir().mkpath(m_path);
        const QString fake = qEnvironmentVariable("QUILLORA_TEST_BIN_DIR") + "/fake_tool";
        for (const char* tool : {"ffmpeg", "flvtool2"})
            QFile::copy(fake, m_path + "/" + tool);
        qputenv("FAKE_TOOL_LOG", log().toLocal8Bit());
        qunsetenv("FAKE_FFMPEG_EXIT");
        qunsetenv("FAKE_FLVTOOL2_EXIT");
        qunsetenv("FAKE_TOOL_SLEEP_MS");
        qunsetenv("FAKE_TOOL_ON_TERM");
    }

    QString path() const { return m_path; }
    QString log() const { return m_root.path() + "/runs.log"; }

    // Each run: the tool's name followed by its arguments.
    QList<QStringList> runs() const
    {
        QFile file(log());
        QList<QStringList> result;
        if (!file.open(QIODevice::ReadOnly))
            return result;
        for (const QByteArray& line : file.readAll().split('\n'))
            if (!line.isEmpty())
                result << QString::fromUtf8(line).split(QChar(0x1f));
        return result;
    }

private:
    QTemporaryDir m_root;
    QString m_path;
};
