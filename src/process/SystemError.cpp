#include "process/SystemError.h"

#include <cerrno>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace quillora::process {

QString GetSystemErrorText(int code)
{
    // strerror_r's GNU form may return a static text instead of filling the buffer.
    char buffer[256] = {};
    const char* message = strerror_r(code, buffer, sizeof buffer);
    std::string text = message ? message : "";
    if (text.starts_with("Unknown error"))
        return {};
    // Only a line end that is there is removed; a text without one keeps every character.
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return QString::fromLocal8Bit(text.c_str());
}

int startFailureCode(const QString& program)
{
    const QByteArray path = program.toLocal8Bit();
    if (::access(path.constData(), X_OK) != 0)
        return errno;
    struct stat info
    {
    };
    if (::stat(path.constData(), &info) == 0 && S_ISDIR(info.st_mode))
        return EACCES;
    // Present and executable, yet not startable: most likely not a program at all.
    return ENOEXEC;
}

} // namespace quillora::process
