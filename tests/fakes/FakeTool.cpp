// Stands in for the encoder and the metadata tool in tests. It appends its name and arguments
// to $FAKE_TOOL_LOG (fields split by 0x1f, one run a line), then sleeps $FAKE_TOOL_SLEEP_MS and
// ends as $FAKE_<NAME>_EXIT says: a number, or "kill" to die by SIGKILL.
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

int main(int argc, char** argv)
{
    std::string name = argv[0];
    name = name.substr(name.find_last_of('/') + 1);
    if (const char* log = std::getenv("FAKE_TOOL_LOG")) {
        std::ofstream out(log, std::ios::app | std::ios::binary);
        out << name;
        for (int i = 1; i < argc; ++i)
            out << '\x1f' << argv[i];
        out << '\n';
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
