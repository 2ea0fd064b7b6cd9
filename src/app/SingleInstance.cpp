#include "app/SingleInstance.h"

#include "platform/Session.h"

#include <QDir>

namespace quillora::app {

SingleInstance::SingleInstance(QStringList lockPaths) : m_paths(std::move(lockPaths)) {}

bool SingleInstance::otherInstanceRunning()
{
    if (m_lock)
        return false;
    for (const QString& path : std::as_const(m_paths)) {
        auto lock = std::make_unique<QLockFile>(path);
        // A running instance holds the lock for hours: age must never make it stale, only
        // the death of its owner.
        lock->setStaleLockTime(0);
        if (lock->tryLock(0)) {
            m_lock = std::move(lock);
            return false;
        }
        if (lock->error() == QLockFile::LockFailedError)
            return true;
        // A missing or unwritable folder says nothing about other instances: try the next.
    }
    // Nowhere to keep a lock: a second instance is unlikely, and refusing to start for ever
    // would be worse than running beside it.
    return false;
}

QStringList SingleInstance::defaultLockPaths()
{
    // The folders as the environment names them. Qt's own runtime location would create a
    // missing folder or warn, and its temporary path turns a missing TMPDIR into the root
    // folder; a relative name depends on where we were started from, so none is used.
    QStringList folders;
#ifdef Q_OS_WIN
    // The user's temporary folder; "/tmp" there would be a folder at the root of whatever
    // drive we were started from, which is rarely there.
    const auto variables = {"TEMP", "TMP", "LOCALAPPDATA"};
#else
    const auto variables = {"XDG_RUNTIME_DIR", "TMPDIR"};
#endif
    for (const char* variable : variables) {
        const QString folder = qEnvironmentVariable(variable);
        if (QDir::isAbsolutePath(folder))
            folders << QDir::cleanPath(folder);
    }
#ifndef Q_OS_WIN
    folders << "/tmp";
#endif
    folders.removeDuplicates();

    const QString name = "/quillora-" + QString::fromStdString(platform::userTag()) + ".lock";
    QStringList paths;
    for (const QString& folder : std::as_const(folders))
        paths << (folder == "/" ? name : folder + name);
    return paths;
}

} // namespace quillora::app
