#pragma once

#include <exception>
#include <stdexcept>
#include <string>

namespace quillora::encoder {

// Why an encode did not happen, each kind a type of its own. outcomeOf() is the one place that
// turns them into the documented exit codes.

// The command line does not say what to do; the text names the problem.
class UsageError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// The command line is well formed but names files that cannot work together (the output is the
// source): the same exit code as a wrong command line, but the usage text would not help.
class WrongFiles : public UsageError
{
public:
    using UsageError::UsageError;
};

// The encode failed; the text says why, in plain words.
class EncodeError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// The user (the window's Cancel, Ctrl+C) or a signal stopped the encode.
class Cancelled : public std::exception
{
public:
    const char* what() const noexcept override
    {
        return "the encode was cancelled; nothing was written";
    }
};

// The output exists and was not to be replaced.
class NotReplaced : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

enum ExitCode { Done = 0, EncodeFailed = 1, WrongCommandLine = 2, NotAllowedToReplace = 3 };

struct Outcome
{
    int exitCode = Done;
    std::string message; // empty when done
    bool cancelled = false;
    bool wrongCommandLine = false;
};

// How an encode that ended with `error` (null: it did not fail) is reported.
[[nodiscard]] Outcome outcomeOf(const std::exception_ptr& error) noexcept;

} // namespace quillora::encoder
