// flvtool2: writes a complete onMetaData (with a keyframe index) at the front of an FLV file.
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

namespace {

enum ExitCode { Success = 0, IoFailure = 1, UsageError = 2, NotValidFlv = 3 };

// A command line that does not say what to do.
class CommandLineError : public std::invalid_argument
{
public:
    using std::invalid_argument::invalid_argument;
};

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
    // Every failure ends here, as one line and its exit code.
    try {
        run(arguments);
        errno = 0;
        std::cout.flush();
        if (!std::cout)
            throw std::system_error(errno ? errno : EIO, std::generic_category(),
                                    "cannot write the standard output");
        return Success;
    } catch (const CommandLineError& error) {
        std::cerr << "flvtool2: " << error.what() << "\n";
        printUsage(std::cerr);
        return UsageError;
    } catch (const FormatError& error) {
        std::cerr << "flvtool2: " << input << ": offset " << error.offset() << ": " << error.what()
                  << "\n";
        return NotValidFlv;
    } catch (const RenderError& error) {
        std::cerr << "flvtool2: " << input << ": " << error.what() << "; nothing was written\n";
        return IoFailure;
    } catch (const std::system_error& error) {
        std::cerr << "flvtool2: " << error.what() << "\n";
        return IoFailure;
    } catch (const std::bad_alloc&) {
        std::cerr << "flvtool2: " << input << ": out of memory\n";
        return IoFailure;
    } catch (const std::exception& error) {
        std::cerr << "flvtool2: " << input << ": " << error.what() << "\n";
        return IoFailure;
    }
}
