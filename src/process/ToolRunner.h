#pragma once

#include "encoding/EncodeRequest.h"
#include "process/Notifier.h"

#include <QProcessEnvironment>
#include <QString>

#include <chrono>

namespace quillora::process {

// How a run of a tool ended.
enum class ToolEnd {
    NotRun,      // the command was blank: nothing was started
    NotStarted,  // the program could not be started
    Exited,      // the program ended by itself with an exit code
    Killed,      // the program was ended by a signal
    Interrupted, // the wait was left before the program ended, and the program was stopped
};

struct ToolResult
{
    ToolEnd end = ToolEnd::NotRun;
    // As the program left it; -1 when a signal ended it, 0 when it never ran.
    int exitCode = 0;
    // The text of the message box shown, empty when none was.
    QString message;

    [[nodiscard]] bool succeeded() const { return end == ToolEnd::Exited && exitCode == 0; }
};

// Starts a tool, waits for it without a time limit, and tells the user how it ended. The wait
// keeps the event loop running (painting, timers, the window system) but lets no user input
// through, so nothing can start a second run, change the window's values or close it meanwhile.
class ToolRunner
{
public:
    explicit ToolRunner(Notifier& notifier);

    [[nodiscard]] ToolResult RunEncoder(const encoding::CommandLine& command);
    [[nodiscard]] ToolResult RunMetadataTool(const encoding::CommandLine& command);

    // Variables added to the tools' environment (the encoder's request for its window).
    void setExtraEnvironment(const QProcessEnvironment& environment)
    {
        m_extraEnvironment = environment;
    }

    // True while a tool runs, until its message box has been answered: the window's values
    // must not change before the next step has read them.
    [[nodiscard]] bool isRunning() const { return m_running; }

    // How long a tool that was asked to stop may take to clean up before it is killed.
    void setStopTimeout(std::chrono::milliseconds timeout) { m_stopTimeout = timeout; }

    // Set from each run's result; the names are those the rest of the program knows them by.
    // True exactly when the latest encoder run ended with exit code 0.
    bool EncodeSucceeded = false;
    qint64 ProcessId = 0;
    int ExitCode = 0;

private:
    struct Messages
    {
        const char* success;
        const char* failure;
    };

    [[nodiscard]] ToolResult run(const encoding::CommandLine& command, const Messages& messages);

    Notifier& m_notifier;
    QProcessEnvironment m_extraEnvironment;
    std::chrono::milliseconds m_stopTimeout{5000};
    bool m_running = false;
};

// What the user is told when a program cannot be started: the program and the system's reason.
QString cannotStartText(const QString& program, int errorCode);

} // namespace quillora::process
