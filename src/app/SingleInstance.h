#pragma once

#include <QLockFile>
#include <QString>
#include <QStringList>

#include <memory>

namespace quillora::app {

// One running Quillora per user. The lock is held for the life of the process and released by
// the system when the process dies, so a crashed instance never blocks the next start.
class SingleInstance
{
public:
    // The lock is taken at the first of the paths where it can be taken at all.
    explicit SingleInstance(QStringList lockPaths = defaultLockPaths());
    explicit SingleInstance(const QString& lockPath) : SingleInstance(QStringList{lockPath}) {}

    // Takes the lock when it is free; true only when a running instance holds it.
    [[nodiscard]] bool otherInstanceRunning();

    // Where the lock is held, or the empty text while none is.
    [[nodiscard]] QString heldLockPath() const { return m_lock ? m_lock->fileName() : QString(); }

    // The session's runtime folder, the temporary folder and /tmp, in that order (on Windows
    // the user's temporary folders), each with the user's id in the name.
    static QStringList defaultLockPaths();

private:
    QStringList m_paths;
    std::unique_ptr<QLockFile> m_lock;
};

} // namespace quillora::app
