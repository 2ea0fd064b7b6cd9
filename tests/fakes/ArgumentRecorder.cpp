// Stands in for a tool: writes each argument it receives, as UTF-8, on a line of its own to the
// file that QUILLORA_RECORD names, and exits with 0.
#include "platform/Session.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    const char* record = std::getenv("QUILLORA_RECORD");
    if (!record)
        return 2;
    std::FILE* out = std::fopen(record, "wb");
    if (!out)
        return 3;
    for (const std::string& argument : quillora::platform::commandLineArguments(argc, argv))
        std::fprintf(out, "%s\n", argument.c_str());
    return std::fclose(out) == 0 ? 0 : 4;
}
