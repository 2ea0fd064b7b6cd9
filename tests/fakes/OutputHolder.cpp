// Starts an all-or-nothing output at the path given, writes into it, says "writing" and waits
// to be killed, so that a test can see what a kill in the middle of a write leaves behind.
#include "platform/SafeOutput.h"

#include <chrono>
#include <cstdio>
#include <thread>

int main(int argc, char** argv)
{
    if (argc != 2)
        return 2;
    quillora::platform::SafeOutput output(argv[1], 0644);
    const char data[] = "half of a file";
    output.writeAt(0, data, sizeof data);
    std::puts("writing");
    std::fflush(stdout);
    std::this_thread::sleep_for(std::chrono::seconds(60));
    return 0;
}
