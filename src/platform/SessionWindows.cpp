#include "platform/Session.h"

#include "platform/Files.h"
#include "platform/Utf16.h"

#include <csignal>
#include <cstdlib>
#include <windows.h>

#include <shellapi.h>

namespace quillora::platform {

namespace {

StopHandler stopHandler = nullptr;

BOOL WINAPI onConsoleControl(DWORD event)
{
    if (!stopHandler)
        return FALSE;
    switch (event) {
    case CTRL_C_EVENT:
        stopHandler(SIGINT);
        return TRUE;
    case CTRL_BREAK_EVENT:
        stopHandler(SIGBREAK);
        return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        stopHandler(SIGTERM);
        return TRUE;
    default:
        return FALSE;
    }
}

} // namespace

std::vector<std::string> commandLineArguments(int, char**)
{
    int count = 0;
    wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    std::vector<std::string> arguments;
    for (int i = 1; wide && i < count; ++i)
        arguments.push_back(narrow(wide[i]));
    ::LocalFree(wide);
    return arguments;
}

std::string userTag()
{
    wchar_t name[257] = {};
    DWORD size = static_cast<DWORD>(std::size(name));
    if (!::GetUserNameW(name, &size))
        return "user";
    return narrow(name);
}

bool hasGraphicalSession()
{
    return true;
}

bool isTerminal(StandardStream stream)
{
    DWORD mode = 0;
    const HANDLE handle =
        ::GetStdHandle(stream == StandardStream::Input ? STD_INPUT_HANDLE : STD_ERROR_HANDLE);
    return handle && handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode) != 0;
}

// Ctrl+C and Ctrl+Break reach a console program on a thread of their own; a program without a
// console gets none of them, and is asked to close through its window instead.
void onStopRequest(StopHandler handler)
{
    stopHandler = handler;
    ::SetConsoleCtrlHandler(onConsoleControl, TRUE);
}

void exitNow(int code)
{
    std::_Exit(code);
}

void failWritesPastSizeLimits()
{
    // Windows has no limit that ends a process: a write past a quota fails by itself.
}

// A program named without an extension is started as the .exe of that name.
int startFailureCode(const std::string& program)
{
    const auto name = program.find_last_of("/\\");
    const bool bare = program.find('.', name == std::string::npos ? 0 : name) == std::string::npos;
    const auto status = statusOf(bare ? program + ".exe" : program);
    if (!status)
        return ERROR_FILE_NOT_FOUND;
    if (status->directory)
        return ERROR_ACCESS_DENIED;
    return ERROR_BAD_EXE_FORMAT;
}

} // namespace quillora::platform
