#pragma once

#include <QLockFile>
#include <QString>

namespace quillora::app {

// One running Quillora per user. The lock is held for the life of the process and released by
// the system when the process dies, so a crashed instance never blocks the next start.
class SingleInstance
{
public:
    explicit SingleInstance(const QString& lockPath = defaultLockPath());

    // Takes the lock when it is free; true when another running instance holds it.
    bool otherInstanceRunning();

    static QString defaultLockPath();

private:
    QLockFile m_lock;
};

} // namespace quillora::app
