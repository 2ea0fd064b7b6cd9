#pragma once

#include <exception>
#include <stdexcept>
#include <string>

namespace quillora::flvtool2 {

enum ExitCode { Success = 0, IoFailure = 1, UsageError = 2, NotValidFlv = 3 };

// A command line that does not say what to do.
class CommandLineError : public std::invalid_argument
{
public:
    using std::invalid_argument::invalid_argument;
};

struct Outcome
{
    int exitCode = Success;
    std::string message; // the line for standard error; empty on success
    bool showUsage = false;

    bool operator==(const Outcome&) const = default;
};

// How a run on `input` that ended with `error` (null: it did not fail) is reported: the one
// place where each kind of failure becomes its line and its exit code.
[[nodiscard]] Outcome outcomeOf(const std::exception_ptr& error, const std::string& input) noexcept;

} // namespace quillora::flvtool2
