#pragma once

#include <string>
#include <vector>

namespace quillora::platform {

// The program's arguments as UTF-8, without the program's name. On Windows they are read from
// the wide command line: main()'s own are in the local code page, which cannot spell every name.
[[nodiscard]] std::vector<std::string> commandLineArguments(int argc, char** argv);

// What tells this user apart from the machine's other users, fit for a file name.
[[nodiscard]] std::string userTag();

// True where a window can be shown: a display to draw on (always so on Windows).
[[nodiscard]] bool hasGraphicalSession();

enum class StandardStream { Input, Error };

// True when the stream is a terminal (a console on Windows) that a person reads or types in.
[[nodiscard]] bool isTerminal(StandardStream stream);

// Called when the user or the system asks the process to stop: SIGINT, SIGTERM or SIGHUP here;
// Ctrl+C, Ctrl+Break or the console closing on Windows. It may run in a signal handler or on a
// thread of its own, so it may only touch lock-free atomics and end the process. `request` is a
// signal number (SIGINT for Ctrl+C, SIGTERM for a close).
using StopHandler = void (*)(int request);
void onStopRequest(StopHandler handler);

// Ends the process at once with `code`: no destructor or exit handler runs.
[[noreturn]] void exitNow(int code);

// A write past a file-size limit fails with an error that is reported, rather than ending the
// process.
void failWritesPastSizeLimits();

// The system's error code for a program that could not be started, found after the fact
// because the process API reports only that the start failed.
[[nodiscard]] int startFailureCode(const std::string& program);

} // namespace quillora::platform
