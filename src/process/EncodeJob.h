#pragma once

#include "encoding/EncodeRequest.h"
#include "process/Notifier.h"
#include "process/ToolRunner.h"

namespace quillora::process {

// What the encode request reads from and writes to the window.
class EncodeView
{
public:
    virtual ~EncodeView() = default;
    virtual QString sourcePath() const = 0;
    virtual QString outputFolder() const = 0;
    virtual QString fileTitle() const = 0;
    virtual QString encodeOptions() const = 0;
    virtual void focusControl(encoding::FocusTarget target) = 0;
    // The command field: the command that runs next.
    virtual void setCommand(const encoding::CommandLine& command) = 0;
    virtual encoding::CommandLine command() const = 0;
    virtual void setEncodeEnabled(bool enabled) = 0;
};

// The encode request: check, encode, inject metadata after a successful encode.
class EncodeJob
{
public:
    EncodeJob(EncodeView& view, ToolRunner& runner, Notifier& notifier, QString appDir,
              QChar separator);

    void run();

private:
    EncodeView& m_view;
    ToolRunner& m_runner;
    Notifier& m_notifier;
    QString m_appDir;
    QChar m_separator;
};

} // namespace quillora::process
