#include "process/ToolRunner.h"

#include "process/InputBlocker.h"
#include "process/SystemError.h"

#include <QEventLoop>
#include <QProcess>
#include <QScopedValueRollback>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace quillora::process {

namespace {

constexpr int killedExitCode = -1;

// A tool killed by a signal has no exit code; like a crash on other systems, it failed.
int exitCodeOf(const QProcess& process)
{
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : killedExitCode;
}

// Waits in a nested event loop until the process has ended; false when the loop was left
// first, as QCoreApplication::exit() leaves every loop when the application is quitting.
[[nodiscard]] bool waitForEnd(QProcess& process)
{
    bool ended = process.state() == QProcess::NotRunning;
    if (ended)
        return true;
    QEventLoop loop;
    QObject::connect(&process, &QProcess::finished, &loop, [&] {
        ended = true;
        loop.quit();
    });
    // Only the wait blocks input: the message boxes that follow must take their answer.
    InputBlocker blocker;
    loop.exec();
    return ended;
}

// Our tools take SIGTERM as a cancel that removes their unfinished output; one that does not
// end in time is killed, so that no tool outlives the run that started it.
void stop(QProcess& process, std::chrono::milliseconds timeout)
{
    process.terminate();
    if (process.waitForFinished(int(timeout.count())))
        return;
    process.kill();
    if (!process.waitForFinished(int(timeout.count())))
        qWarning("quillora: %s did not end after SIGKILL", qPrintable(process.program()));
}

} // namespace

QString cannotStartText(const QString& program, int errorCode)
{
    const QString reason = GetSystemErrorText(errorCode);
    return ("CANNOT START " + program + (reason.isEmpty() ? "" : ": " + reason)).toUpper();
}

ToolRunner::ToolRunner(Notifier& notifier) : m_notifier(notifier) {}

ToolResult ToolRunner::RunEncoder(const encoding::CommandLine& command)
{
    if (command.isBlank())
        return {};
    EncodeSucceeded = false;
    const ToolResult result =
        run(command, {"FLV ENCODED!", "THE ENCODING FAILED DUE TO A DAMAGED VIDEO FILE!"});
    EncodeSucceeded = result.succeeded();
    return result;
}

ToolResult ToolRunner::RunMetadataTool(const encoding::CommandLine& command)
{
    if (command.isBlank())
        return {};
    return run(command, {"METADATA INJECTED!", "METADATA ERROR!"});
}

ToolResult ToolRunner::run(const encoding::CommandLine& command, const Messages& messages)
{
    const QScopedValueRollback running(m_running, true);
    QProcess process;
    process.setProgram(command.program);
    process.setArguments(command.arguments);
    // The tools talk to the user through their own windows or the terminal we came from.
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(m_extraEnvironment);
    process.setProcessEnvironment(environment);
#ifdef Q_OS_WIN
    // A console program started from a window would get a console window of its own beside
    // the tool's own window; it has none, and talks to the user through that window.
    process.setCreateProcessArgumentsModifier(
        [](QProcess::CreateProcessArguments* arguments) { arguments->flags |= CREATE_NO_WINDOW; });
#endif

    process.start(QIODevice::ReadWrite);
    if (!process.waitForStarted(-1)) {
        ToolResult result{ToolEnd::NotStarted, 0,
                          cannotStartText(command.program, startFailureCode(command.program))};
        notifyError(m_notifier, result.message);
        return result;
    }
    // Nobody answers on standard input: a tool that asks must see end-of-file, not hang.
    process.closeWriteChannel();
    ProcessId = process.processId();

    if (!waitForEnd(process)) {
        // The application is on its way out. The tool is stopped rather than left behind, what
        // it was making is unfinished, and no message box could be answered now (every event
        // loop started from here returns at once), so nothing is shown: "DAMAGED VIDEO FILE"
        // would blame a video that may be sound.
        stop(process, m_stopTimeout);
        ExitCode = exitCodeOf(process);
        return {ToolEnd::Interrupted, ExitCode, {}};
    }

    ExitCode = exitCodeOf(process);
    ToolResult result{process.exitStatus() == QProcess::NormalExit ? ToolEnd::Exited
                                                                   : ToolEnd::Killed,
                      ExitCode,
                      {}};
    if (result.succeeded()) {
        result.message = messages.success;
        notifyMessage(m_notifier, result.message);
    } else {
        result.message = messages.failure;
        notifyError(m_notifier, result.message);
    }
    return result;
}

} // namespace quillora::process
