// Stands in for the encoder and the metadata tool in tests. It appends its name and arguments
// to $FAKE_TOOL_LOG (fields split by 0x1f, one run a line), then sleeps $FAKE_TOOL_SLEEP_MS and
// ends as $FAKE_<NAME>_EXIT says: a number, or "kill" to die by SIGKILL. Like the real encoder,
// it takes SIGTERM as a cancel: it logs "<name> terminated" and exits with 1, unless
// $FAKE_TOOL_ON_TERM is "ignore".
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <thread>
#include <unistd.h>

namespace {
int logFd = -1;
std::string terminatedLine;

void onTerminate(int)
{
    if (logFd >= 0) {
        [[maybe_unused]] auto written =
            ::write(logFd, terminatedLine.data(), terminatedLine.size());
    }
    _exit(1);
}
} // namespace

int main(int argc, char** argv)
{
    std::string name = argv[0];
    name = name.substr(name.find_last_of('/') + 1);
    terminatedLine = name + "\x1f" + "terminated\n";
    const char* onTerm = std::getenv("FAKE_TOOL_ON_TERM");
    std::signal(SIGTERM, onTerm && std::strcmp(onTerm, "ignore") == 0 ? SIG_IGN : onTerminate);
    // Logged once SIGTERM is handled, so that a test which waits for the line can stop us.
    if (const char* log = std::getenv("FAKE_TOOL_LOG")) {
        logFd = ::open(log, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        std::string line = name;
        for (int i = 1; i < argc; ++i)
            line += '\x1f' + std::string(argv[i]);
        line += '\n';
        [[maybe_unused]] auto written = ::write(logFd, line.data(), line.size());
    }

    if (const char* sleep = std::getenv("FAKE_TOOL_SLEEP_MS"))
        std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(sleep)));

    std::string variable = "FAKE_";
    for (char c : name)
        variable += static_cast<char>(c == '-' ? '_' : std::toupper(static_cast<unsigned char>(c)));
    variable += "_EXIT";
    const char* exit = std::getenv(variable.c_str());
    if (exit && std::string(exit) == "kill")
        std::raise(SIGKILL);
    return exit ? std::atoi(exit) : 0;
}
