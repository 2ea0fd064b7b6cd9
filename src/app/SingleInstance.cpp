#include "app/SingleInstance.h"

#include <QDir>
#include <QStandardPaths>

#include <unistd.h>

namespace quillora::app {

SingleInstance::SingleInstance(const QString& lockPath) : m_lock(lockPath)
{
    // A running instance holds the lock for hours: age must never make it stale, only the
    // death of its owner.
    m_lock.setStaleLockTime(0);
}

bool SingleInstance::otherInstanceRunning()
{
    if (m_lock.isLocked())
        return false;
    return !m_lock.tryLock(0);
}

QString SingleInstance::defaultLockPath()
{
    // Without a runtime folder of the session, Qt would warn on every start; the temporary
    // folder serves, with the user's id in the name.
    QString folder;
    if (qEnvironmentVariableIsSet("XDG_RUNTIME_DIR"))
        folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath();
    return folder + "/quillora-" + QString::number(getuid()) + ".lock";
}

} // namespace quillora::app
