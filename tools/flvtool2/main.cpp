// flvtool2: writes a complete onMetaData (with a keyframe index) at the front of an FLV file.
#include "Outcome.h"
#include "flv/Bytes.h"
#include "flv/MetadataInjector.h"
#include "platform/Session.h"

#include <cerrno>
#include <chrono>
#include <iostream>
#include <new>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

using namespace quillora::flv;
using namespace quillora::flvtool2;

namespace {

const std::string creator = std::string("Quillora flvtool2 ") + QUILLORA_VERSION;

void printUsage(std::ostream& out)
{
    out << "Usage: flvtool2 -U IN [OUT]   write OUT (or IN in place) with fresh onMetaData\n"
           "       flvtool2 -P IN         print the metadata IN holds\n"
           "       flvtool2 -h | --help | --version\n"
           "\n"
           "The output appears complete or not at all; on any failure the files are left as\n"
           "they were.\n"
           "\n"
           "Exit codes: 0 success, 1 a file could not be read or written (missing file, no\n"
           "permission, full disk, metadata too large for one tag), 2 wrong command line, 3 the\n"
           "input is not a valid FLV file.\n";
}

void run(const std::vector<std::string>& arguments)
{
    if (arguments.empty())
        throw CommandLineError("no command given");
    const std::string& command = arguments[0];
    if (command == "-h" || command == "--help") {
        printUsage(std::cout);
    } else if (command == "--version") {
        std::cout << creator << "\n";
    } else if (command == "-P") {
        if (arguments.size() != 2)
            throw CommandLineError("-P takes one file");
        if (!printMetadata(arguments[1], std::cout))
            std::cout << arguments[1] << ": no onMetaData\n";
    } else if (command == "-U") {
        if (arguments.size() != 2 && arguments.size() != 3)
            throw CommandLineError("-U takes an input file and an optional output file");
        const std::string& input = arguments[1];
        const std::string& output = arguments.size() == 3 ? arguments[2] : input;
        const auto now = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::system_clock::now().time_since_epoch())
                             .count();
        injectMetadata(input, output, static_cast<double>(now), creator);
    } else {
        throw CommandLineError("unknown command " + command);
    }
}

} // namespace

int main(int argc, char** argv)
{
    quillora::platform::failWritesPastSizeLimits();
    const std::vector<std::string> arguments = quillora::platform::commandLineArguments(argc, argv);
    const std::string input = arguments.size() > 1 ? arguments[1] : "";
    try {
        run(arguments);
        errno = 0;
        std::cout.flush();
        if (!std::cout)
            throw std::system_error(errno ? errno : EIO, std::generic_category(),
                                    "cannot write the standard output");
        return Success;
    } catch (...) {
        const Outcome outcome = outcomeOf(std::current_exception(), input);
        std::cerr << outcome.message << "\n";
        if (outcome.showUsage)
            printUsage(std::cerr);
        return outcome.exitCode;
    }
}
