#include "platform/Session.h"

#include "platform/Files.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <unistd.h>

namespace quillora::platform {

std::vector<std::string> commandLineArguments(int argc, char** argv)
{
    return argc > 1 ? std::vector<std::string>(argv + 1, argv + argc) : std::vector<std::string>();
}

std::string userTag()
{
    return std::to_string(::getuid());
}

bool hasGraphicalSession()
{
    for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY"})
        if (const char* value = std::getenv(variable); value && *value)
            return true;
    return false;
}

bool isTerminal(StandardStream stream)
{
    return ::isatty(stream == StandardStream::Input ? STDIN_FILENO : STDERR_FILENO) != 0;
}

void onStopRequest(StopHandler handler)
{
    for (const int request : {SIGINT, SIGTERM, SIGHUP})
        std::signal(request, handler);
}

void exitNow(int code)
{
    ::_exit(code);
}

void failWritesPastSizeLimits()
{
    std::signal(SIGXFSZ, SIG_IGN);
}

int startFailureCode(const std::string& program)
{
    if (::access(program.c_str(), X_OK) != 0)
        return errno;
    if (const auto status = statusOf(program); status && status->directory)
        return EACCES;
    // Present and executable, yet not startable: most likely not a program at all.
    return ENOEXEC;
}

} // namespace quillora::platform
