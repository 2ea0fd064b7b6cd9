#include "process/EncodeJob.h"

namespace quillora::process {

namespace {
// Enables the button again however the runs end, an exception included.
struct ReenableOnExit
{
    EncodeView& view;
    ~ReenableOnExit() { view.setEncodeEnabled(true); }
};
} // namespace

EncodeJob::EncodeJob(EncodeView& view, ToolRunner& runner, Notifier& notifier, QString appDir,
                     QChar separator)
    : m_view(view), m_runner(runner), m_notifier(notifier), m_appDir(std::move(appDir)),
      m_separator(separator)
{}

void EncodeJob::run()
{
    if (const auto failure = encoding::checkEncodeRequest(
            m_view.sourcePath(), m_view.outputFolder(), m_view.fileTitle())) {
        notifyError(m_notifier, failure->text);
        m_view.focusControl(failure->focus);
        return;
    }

    m_view.setCommand(encoding::encoderCommandLine(m_appDir, m_view.sourcePath(),
                                                   m_view.encodeOptions(), m_view.outputFolder(),
                                                   m_view.fileTitle(), m_separator));
    m_view.setEncodeEnabled(false);
    ReenableOnExit reenable{m_view};

    // EncodeSucceeded says the same: the encoder really ended, with exit code 0.
    if (!m_runner.RunEncoder(m_view.command()).succeeded())
        return;
    m_view.setCommand(encoding::metadataCommandLine(m_appDir, m_view.outputFolder(),
                                                    m_view.fileTitle(), m_separator));
    // Its message box has told the user how it went; nothing follows it either way.
    static_cast<void>(m_runner.RunMetadataTool(m_view.command()));
}

} // namespace quillora::process
