#include "process/ToolRunner.h"

#include "process/InputBlocker.h"
#include "process/SystemError.h"

#include <QEventLoop>
#include <QProcess>

namespace quillora::process {

namespace {
constexpr int killedExitCode = -1;
} // namespace

ToolRunner::ToolRunner(Notifier& notifier) : m_notifier(notifier) {}

void ToolRunner::RunEncoder(const encoding::CommandLine& command)
{
    if (command.isBlank())
        return;
    EncodeSucceeded = false;
    EncodeSucceeded =
        run(command, {"FLV ENCODED!", "THE ENCODING FAILED DUE TO A DAMAGED VIDEO FILE!"});
}

void ToolRunner::RunMetadataTool(const encoding::CommandLine& command)
{
    if (command.isBlank())
        return;
    run(command, {"METADATA INJECTED!", "METADATA ERROR!"});
}

bool ToolRunner::run(const encoding::CommandLine& command, const Messages& messages)
{
    QProcess process;
    process.setProgram(command.program);
    process.setArguments(command.arguments);
    // The tools talk to the user through their own windows or the terminal we came from.
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(m_extraEnvironment);
    process.setProcessEnvironment(environment);

    process.start(QIODevice::ReadWrite);
    if (!process.waitForStarted(-1)) {
        const int code = startFailureCode(command.program);
        notifyError(m_notifier, GetSystemErrorText(code).toUpper());
        return false;
    }
    // Nobody answers on standard input: a tool that asks must see end-of-file, not hang.
    process.closeWriteChannel();
    ProcessId = process.processId();

    if (process.state() != QProcess::NotRunning) {
        // Only the wait blocks input: the message boxes that follow must take their answer.
        QEventLoop loop;
        QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
        InputBlocker blocker;
        loop.exec();
    }

    // A tool killed by a signal has no exit code; like a crash on other systems, it failed.
    ExitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : killedExitCode;
    const bool succeeded = ExitCode == 0;
    if (succeeded)
        notifyMessage(m_notifier, messages.success);
    else
        notifyError(m_notifier, messages.failure);
    return succeeded;
}

} // namespace quillora::process
