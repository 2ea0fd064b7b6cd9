#include "EncodeCommand.h"

#include "EncodeWindow.h"
#include "Errors.h"
#include "ProgressWindow.h"
#include "Transcoder.h"
#include "platform/Files.h"
#include "platform/RuntimeDirNotice.h"
#include "platform/SafeOutput.h"
#include "platform/Session.h"

#include <QApplication>
#include <QMessageBox>

#include <atomic>
#include <cstdio>
#include <iostream>

namespace quillora::encoder {

namespace {

std::atomic<bool> cancelRequested{false};

std::atomic<bool> encoding{false};

// While it lives, a request to stop cancels the encode rather than ending the process.
class EncodingUnderway
{
public:
    EncodingUnderway() { encoding = true; }
    ~EncodingUnderway() { encoding = false; }
    EncodingUnderway(const EncodingUnderway&) = delete;
    EncodingUnderway& operator=(const EncodingUnderway&) = delete;
};

// During the encode a request to stop cancels it cleanly; at any other moment (a question or a
// failure message waiting for an answer) it ends the process, as the request means. Either way
// the unfinished output file vanishes with us. A second request never waits.
void onStopRequest(int request)
{
    if (!encoding || cancelRequested)
        quillora::platform::exitNow(128 + request);
    cancelRequested = true;
}

// Permissions for the new file: those of the file it replaces, or the usual ones. Reading the
// umask means setting it, for the whole process: only while no other thread runs.
[[nodiscard]] std::uint32_t outputPermissions(const std::string& output)
{
    if (const auto existing = quillora::platform::statusOf(output))
        return existing->permissions;
    return quillora::platform::newFilePermissions();
}

[[nodiscard]] bool windowWanted()
{
    // A window nobody can see (no display, or an off-screen platform) could never be answered.
    const QString platform = qEnvironmentVariable("QT_QPA_PLATFORM");
    if (platform == "offscreen" || platform == "minimal")
        return false;
    return qEnvironmentVariableIsSet("QUILLORA_PROGRESS_WINDOW") &&
           quillora::platform::hasGraphicalSession();
}

// The encode itself: into an unnamed file beside the output, put in place only when complete,
// so a failure, a cancel or a kill leaves no partial file and the old one untouched.
VideoRate encodeSafely(const EncoderOptions& options, std::uint32_t permissions,
                       const ProgressCallback& progress)
{
    quillora::platform::SafeOutput output(options.output, permissions);
    VideoRate rate;
    {
        const EncodingUnderway underway;
        rate = transcode(options, output.handle(), cancelRequested, progress);
    }
    output.commit();
    return rate;
}

VideoRate encodeWithWindow(int argc, char** argv, const EncoderOptions& options,
                           std::uint32_t permissions, bool mustAsk)
{
    quillora::platform::silenceRuntimeDirNotice();
    QApplication application(argc, argv);
    if (mustAsk && QMessageBox::question(nullptr, "Quillora",
                                         "The file " + QString::fromStdString(options.output) +
                                             " already exists.\nReplace it?") != QMessageBox::Yes)
        throw NotReplaced("not replaced");
    ProgressWindow window(QString::fromStdString(options.input),
                          QString::fromStdString(options.output), cancelRequested);
    VideoRate rate;
    encodeInWindow(window, [&](const ProgressCallback& progress) {
        rate = encodeSafely(options, permissions, progress);
    });
    return rate;
}

VideoRate encodeInTerminal(const EncoderOptions& options, std::uint32_t permissions, bool mustAsk)
{
    if (mustAsk) {
        if (!quillora::platform::isTerminal(quillora::platform::StandardStream::Input))
            throw NotReplaced(options.output +
                              " already exists; not replaced (use -y to replace it)");
        std::cerr << "File '" << options.output << "' already exists. Overwrite? [y/N] ";
        std::string answer;
        std::getline(std::cin, answer);
        if (answer != "y" && answer != "Y")
            throw NotReplaced("not replaced");
    }
    const bool showProgress =
        quillora::platform::isTerminal(quillora::platform::StandardStream::Error);
    ProgressThrottle throttle;
    VideoRate rate;
    try {
        rate = encodeSafely(options, permissions, [&](double done, double total) {
            if (showProgress && throttle.due())
                std::fprintf(stderr, "\r%s   ",
                             qPrintable(progressText(throttle.elapsed() / 1000.0, done, total)));
        });
    } catch (...) {
        if (showProgress)
            std::cerr << "\n";
        throw;
    }
    if (showProgress)
        std::cerr << "\n";
    return rate;
}

} // namespace

EncodeCommand::EncodeCommand(const EncoderOptions& options, int argc, char** argv)
    : m_options(options), m_argc(argc), m_argv(argv)
{}

void EncodeCommand::run()
{
    const EncoderOptions& options = m_options;
    const auto source = quillora::platform::statusOf(options.input);
    if (!source)
        throw EncodeError("the source file " + options.input + " does not exist");
    if (source->directory)
        throw EncodeError("the source " + options.input + " is a folder, not a video");
    // A pipe or a device could keep the encode waiting for data that never comes.
    if (!source->regular)
        throw EncodeError("the source " + options.input + " is not a file");
    if (quillora::platform::sameFile(options.input, options.output))
        throw WrongFiles("the output " + options.output +
                         " is the source itself; choose another name");
    quillora::platform::onStopRequest(onStopRequest);
    quillora::platform::failWritesPastSizeLimits();
    const bool mustAsk = !options.overwrite && quillora::platform::statusOf(options.output);
    // Before the window's threads, and the encode's, start.
    const std::uint32_t permissions = outputPermissions(options.output);
    const VideoRate rate = windowWanted()
                               ? encodeWithWindow(m_argc, m_argv, options, permissions, mustAsk)
                               : encodeInTerminal(options, permissions, mustAsk);
    // A file that misses the chosen rate says so to the user in a terminal, rather than passing
    // for what was asked; started by the desktop program or a script, a success stays silent.
    if (const std::string notice = rateNotice(rate);
        !notice.empty() &&
        quillora::platform::isTerminal(quillora::platform::StandardStream::Error))
        std::cerr << "ffmpeg: " << notice << "\n";
}

} // namespace quillora::encoder
