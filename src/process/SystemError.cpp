#include "process/SystemError.h"

#include "platform/Files.h"
#include "platform/Session.h"

namespace quillora::process {

QString GetSystemErrorText(int code)
{
    return QString::fromStdString(platform::systemErrorText(code));
}

int startFailureCode(const QString& program)
{
    return platform::startFailureCode(program.toStdString());
}

} // namespace quillora::process
