#pragma once

#include "encoding/EncodeRequest.h"
#include "process/Notifier.h"

#include <QProcessEnvironment>

namespace quillora::process {

// Starts a tool, waits for it without a time limit, and tells the user how it ended. The wait
// keeps the event loop running (painting, timers, the window system) but lets no user input
// through, so nothing can start a second run or close the window meanwhile.
class ToolRunner
{
public:
    explicit ToolRunner(Notifier& notifier);

    void RunEncoder(const encoding::CommandLine& command);
    void RunMetadataTool(const encoding::CommandLine& command);

    // Variables added to the tools' environment (the encoder's request for its window).
    void setExtraEnvironment(const QProcessEnvironment& environment)
    {
        m_extraEnvironment = environment;
    }

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

    // Runs the command; true when it ended with exit code 0.
    bool run(const encoding::CommandLine& command, const Messages& messages);

    Notifier& m_notifier;
    QProcessEnvironment m_extraEnvironment;
};

} // namespace quillora::process
