#pragma once

#include "encoding/EncodeOptions.h"
#include "process/EncodeJob.h"
#include "process/ToolRunner.h"
#include "ui/HandlerErrors.h"

#include <QWidget>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace quillora::ui {

class Choosers;

// frmMainTrial: the only working window. It holds every setting and selection in its controls
// and hands the encode request to the encoding job.
class MainWindow : public QWidget, public process::EncodeView
{
    Q_OBJECT

public:
    MainWindow(process::Notifier& notifier, Choosers& choosers, QString appDir,
               QWidget* parent = nullptr);

    // The option string as last built from the visible settings.
    QString EncodeOptions;

    // Appends each list's entries and selects its default, in start-up order.
    void fillSettingLists();
    // Rebuilds EncodeOptions from the seven settings.
    void BuildEncodeOptions();
    encoding::EncodeSettings settings() const;

    process::ToolRunner& runner() { return m_runner; }
    // Where the errors of the window's handlers go.
    HandlerErrors& handlerErrors() { return m_errors; }

    // EncodeView
    QString sourcePath() const override;
    QString outputFolder() const override;
    QString fileTitle() const override;
    QString encodeOptions() const override { return EncodeOptions; }
    void focusControl(encoding::FocusTarget target) override;
    void setCommand(const encoding::CommandLine& command) override;
    encoding::CommandLine command() const override;
    void setEncodeEnabled(bool enabled) override;

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private slots:
    void cmdInput_Click();
    void cmdOutput_Click();
    void cmdEncode_Click();

private:
    void createWindow();
    void createCommandField();
    void createSourceFrame();
    void createVideoFrame();
    void createAudioFrame();
    void createEncodeButton();
    void createTabOrder();
    void connectSettings();

    QGroupBox* createFrame(const char* name, const QString& caption, QRect geometry);
    QLabel* createLabel(QWidget* parent, const char* name, const QString& caption, QRect geometry);
    QLabel* createDisplayField(QWidget* parent, const char* name, const QString& accessibleName,
                               QRect geometry);
    QPushButton* createButton(QWidget* parent, const char* name, const QString& caption,
                              QRect geometry);
    QComboBox* createList(QWidget* parent, const char* name, QRect geometry);
    QCheckBox* createCheckBox(QWidget* parent, const char* name, const QString& caption,
                              QRect geometry);

    process::Notifier& m_notifier;
    Choosers& m_choosers;
    HandlerErrors m_errors;
    process::ToolRunner m_runner;
    process::EncodeJob m_job;
    encoding::CommandLine m_command;
    bool m_centred = false;

    QPlainTextEdit* m_txtApp = nullptr;
    QGroupBox* m_frame1 = nullptr;
    QGroupBox* m_frame2 = nullptr;
    QGroupBox* m_frame3 = nullptr;
    QPushButton* m_cmdInput = nullptr;
    QLabel* m_lblInput = nullptr;
    QPushButton* m_cmdOutput = nullptr;
    QLabel* m_lblOutput = nullptr;
    QLineEdit* m_txtFileTitle = nullptr;
    QComboBox* m_cmbVideoWindow = nullptr;
    QComboBox* m_cmbVideoBitrate = nullptr;
    QCheckBox* m_chkDeInterlace = nullptr;
    QComboBox* m_cmbAudioSampling = nullptr;
    QComboBox* m_cmbAudioBitrate = nullptr;
    QComboBox* m_cmbAudioChannels = nullptr;
    QCheckBox* m_chkDisableAudio = nullptr;
    QPushButton* m_cmdEncode = nullptr;
};

} // namespace quillora::ui
