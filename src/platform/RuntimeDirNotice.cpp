#include "platform/RuntimeDirNotice.h"

#include <QString>
#include <QtGlobal>

namespace quillora::platform {

namespace {

QtMessageHandler nextHandler = nullptr;

void dropRuntimeDirNotice(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type == QtWarningMsg && message.startsWith("QStandardPaths: XDG_RUNTIME_DIR not set"))
        return;
    nextHandler(type, context, message);
}

} // namespace

void silenceRuntimeDirNotice()
{
    if (nextHandler || !qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR"))
        return;
    nextHandler = qInstallMessageHandler(dropRuntimeDirNotice);
}

} // namespace quillora::platform
