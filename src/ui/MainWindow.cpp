#include "ui/MainWindow.h"

#include "encoding/OutputName.h"
#include "ui/Accessibility.h"
#include "ui/Artwork.h"
#include "ui/Choosers.h"
#include "ui/ClassicLook.h"
#include "ui/Lifecycle.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QStandardItemModel>

namespace quillora::ui {

namespace {
// A list's entries are a fixed set. Items are editable by default, and a screen reader renames
// an editable entry through the accessible cell of the list that drops down.
void fixEntries(QComboBox* list)
{
    if (auto* model = qobject_cast<QStandardItemModel*>(list->model()))
        for (int row = 0; row < model->rowCount(); ++row)
            model->item(row)->setEditable(false);
}

} // namespace

MainWindow::MainWindow(process::Notifier& notifier, Choosers& choosers, QString appDir,
                       QWidget* parent)
    : QWidget(parent), m_notifier(notifier), m_choosers(choosers), m_errors(notifier),
      m_runner(notifier), m_job(*this, m_runner, notifier, std::move(appDir), QDir::separator())
{
    // The encoder shows its own progress window when we start it: it is the user's only sign
    // of progress while we wait.
    QProcessEnvironment toolEnvironment;
    toolEnvironment.insert("QUILLORA_PROGRESS_WINDOW", "1");
    m_runner.setExtraEnvironment(toolEnvironment);

    createWindow();
    createCommandField();
    createSourceFrame();
    createVideoFrame();
    createAudioFrame();
    createEncodeButton();
    applyClassicStyle(this);
    createTabOrder();
    connectSettings();
}

void MainWindow::createWindow()
{
    // The same state that holds back the user's input, for what a screen reader asks.
    refuseChangesWhile(this, [this] { return m_runner.isRunning(); });
    presentAsWindow(this);
    setObjectName("frmMainTrial");
    setWindowTitle("Quillora");
    setWindowIcon(appIcon());
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(twips(0, 0, 6000, 5505).size());
    setFont(tahoma(8.25));
    setBackground(this, white);
    setEdgeColours(this, QApplication::palette().color(QPalette::Button));
}

void MainWindow::createCommandField()
{
    m_txtApp = new QPlainTextEdit(this);
    m_txtApp->setObjectName("txtApp");
    m_txtApp->setGeometry(twips(240, 360, 5235, 1215));
    m_txtApp->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_txtApp->setFocusPolicy(Qt::NoFocus);
    m_txtApp->hide();
}

void MainWindow::createSourceFrame()
{
    m_frame1 = createFrame("Frame1", "Source Video:", twips(120, 60, 5775, 1935));
    m_cmdInput = createButton(m_frame1, "cmdInput", "&Input File", twips(120, 300, 1530, 435));
    m_lblInput =
        createDisplayField(m_frame1, "lblInput", "Source video", twips(1800, 360, 3855, 315));
    m_cmdOutput = createButton(m_frame1, "cmdOutput", "&Output Folder", twips(120, 840, 1530, 435));
    m_lblOutput =
        createDisplayField(m_frame1, "lblOutput", "Output folder", twips(1800, 900, 3855, 315));
    QLabel* label1 =
        createLabel(m_frame1, "Label1", "Output File Name:", twips(180, 1470, 1335, 255));
    m_txtFileTitle = new QLineEdit(m_frame1);
    m_txtFileTitle->setObjectName("txtFileTitle");
    m_txtFileTitle->setGeometry(twips(1800, 1440, 3855, 315));
    nameAfterCaption(m_txtFileTitle, label1);

    connect(m_cmdInput, &QPushButton::clicked, this,
            m_errors.guarded([this] { cmdInput_Click(); }));
    connect(m_cmdOutput, &QPushButton::clicked, this,
            m_errors.guarded([this] { cmdOutput_Click(); }));
}

void MainWindow::createVideoFrame()
{
    m_frame2 = createFrame("Frame2", "Video Encoding Options", twips(120, 2040, 5775, 1155));
    QLabel* label2 = createLabel(m_frame2, "Label2", "Video Window:", twips(180, 270, 1095, 255));
    m_cmbVideoWindow = createList(m_frame2, "cmbVideoWindow", twips(1800, 240, 1035, 315));
    QLabel* label3 = createLabel(m_frame2, "Label3", "Pixels", twips(2940, 270, 435, 255));
    nameAfterCaption(m_cmbVideoWindow, label2, label3);
    QLabel* label4 = createLabel(m_frame2, "Label4", "Video Bitrate:", twips(180, 690, 1095, 255));
    m_cmbVideoBitrate = createList(m_frame2, "cmbVideoBitrate", twips(1800, 660, 1035, 315));
    QLabel* label5 = createLabel(m_frame2, "Label5", "Kbps", twips(2940, 690, 375, 255));
    nameAfterCaption(m_cmbVideoBitrate, label4, label5);
    m_chkDeInterlace =
        createCheckBox(m_frame2, "chkDeInterlace", "De - Interlace", twips(4080, 240, 1335, 315));
    // This one box keeps the system's window colour rather than white.
    setBackground(m_chkDeInterlace, QApplication::palette().color(QPalette::Window));
}

void MainWindow::createAudioFrame()
{
    m_frame3 = createFrame("Frame3", "Audio Encoding Options", twips(120, 3240, 5775, 1575));
    QLabel* label6 =
        createLabel(m_frame3, "Label6", "Sampling Frequency:", twips(180, 270, 1635, 255));
    m_cmbAudioSampling = createList(m_frame3, "cmbAudioSampling", twips(1800, 240, 1035, 315));
    QLabel* label7 = createLabel(m_frame3, "Label7", "Hz", twips(2940, 270, 255, 255));
    nameAfterCaption(m_cmbAudioSampling, label6, label7);
    QLabel* label8 = createLabel(m_frame3, "Label8", "Audio Bitrate:", twips(180, 720, 1095, 255));
    m_cmbAudioBitrate = createList(m_frame3, "cmbAudioBitrate", twips(1800, 690, 1035, 315));
    QLabel* label9 = createLabel(m_frame3, "Label9", "Kbps", twips(2940, 720, 375, 255));
    nameAfterCaption(m_cmbAudioBitrate, label8, label9);
    QLabel* label10 = createLabel(m_frame3, "Label10", "Channels:", twips(180, 1170, 855, 255));
    m_cmbAudioChannels = createList(m_frame3, "cmbAudioChannels", twips(1800, 1140, 1035, 315));
    nameAfterCaption(m_cmbAudioChannels, label10);
    m_chkDisableAudio =
        createCheckBox(m_frame3, "chkDisableAudio", "Disable Audio", twips(4080, 240, 1275, 315));
}

void MainWindow::createEncodeButton()
{
    m_cmdEncode = createButton(this, "cmdEncode", "Start &Encoding", twips(120, 4920, 4575, 495));
    m_cmdEncode->setFont(tahoma(9.75, true));
    connect(m_cmdEncode, &QPushButton::clicked, this,
            m_errors.guarded([this] { cmdEncode_Click(); }));
}

void MainWindow::createTabOrder()
{
    const QList<QWidget*> order{m_cmdInput,         m_cmdOutput,       m_txtFileTitle,
                                m_cmbVideoWindow,   m_cmbVideoBitrate, m_chkDeInterlace,
                                m_cmbAudioSampling, m_cmbAudioBitrate, m_cmbAudioChannels,
                                m_chkDisableAudio,  m_cmdEncode};
    for (qsizetype i = 1; i < order.size(); ++i)
        setTabOrder(order[i - 1], order[i]);
}

void MainWindow::connectSettings()
{
    for (QComboBox* list : {m_cmbVideoWindow, m_cmbVideoBitrate, m_cmbAudioSampling,
                            m_cmbAudioBitrate, m_cmbAudioChannels})
        connect(list, &QComboBox::currentIndexChanged, this,
                m_errors.guarded([this] { BuildEncodeOptions(); }));
    for (QCheckBox* box : {m_chkDeInterlace, m_chkDisableAudio})
        connect(box, &QCheckBox::stateChanged, this,
                m_errors.guarded([this] { BuildEncodeOptions(); }));
}

QGroupBox* MainWindow::createFrame(const char* name, const QString& caption, QRect geometry)
{
    auto* frame = new QGroupBox(caption, this);
    frame->setObjectName(name);
    frame->setGeometry(geometry);
    frame->setFocusPolicy(Qt::NoFocus);
    setColour(frame, QPalette::WindowText, frameCaptionRed);
    setBackground(frame, white);
    return frame;
}

QLabel* MainWindow::createLabel(QWidget* parent, const char* name, const QString& caption,
                                QRect geometry)
{
    auto* label = new QLabel(caption, parent);
    label->setObjectName(name);
    label->setGeometry(geometry);
    setBackground(label, white);
    setColour(label, QPalette::WindowText, Qt::black);
    return label;
}

QLabel* MainWindow::createDisplayField(QWidget* parent, const char* name,
                                       const QString& accessibleName, QRect geometry)
{
    QLabel* field = createLabel(parent, name, QString(), geometry);
    nameDisplayField(field, accessibleName);
    setBackground(field, buttonGrey);
    field->setFrameStyle(QFrame::Box | QFrame::Plain);
    field->setLineWidth(1);
    field->setTextInteractionFlags(Qt::NoTextInteraction);
    field->setFocusPolicy(Qt::NoFocus);
    return field;
}

QPushButton* MainWindow::createButton(QWidget* parent, const char* name, const QString& caption,
                                      QRect geometry)
{
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(name);
    button->setGeometry(geometry);
    button->setAutoDefault(false);
    setColour(button, QPalette::Button, buttonGrey);
    setColour(button, QPalette::ButtonText, Qt::black);
    setEdgeColours(button, buttonGrey);
    return button;
}

QComboBox* MainWindow::createList(QWidget* parent, const char* name, QRect geometry)
{
    auto* list = new QComboBox(parent);
    list->setObjectName(name);
    list->setGeometry(geometry);
    list->setEditable(false);
    // The list that drops down is made now rather than on first use, so that it takes the
    // window's style with the rest.
    list->view();
    setColour(list, QPalette::WindowText, Qt::black);
    setColour(list, QPalette::ButtonText, Qt::black);
    return list;
}

QCheckBox* MainWindow::createCheckBox(QWidget* parent, const char* name, const QString& caption,
                                      QRect geometry)
{
    auto* box = new QCheckBox(caption, parent);
    box->setObjectName(name);
    box->setGeometry(geometry);
    setBackground(box, white);
    setColour(box, QPalette::WindowText, Qt::black);
    return box;
}

void MainWindow::fillSettingLists()
{
    // Each list is found by the control the settings name, so that their order cannot put
    // one list's entries into another.
    for (const encoding::SettingList& setting : encoding::settingLists()) {
        auto* list = findChild<QComboBox*>(setting.control);
        Q_ASSERT(list);
        if (!list)
            continue;
        list->addItems(setting.entries);
        fixEntries(list);
        list->setCurrentText(list->itemText(setting.defaultIndex));
        // A handler that the selection set off may have failed: the fill stops there.
        m_errors.rethrowHeld();
    }
}

encoding::EncodeSettings MainWindow::settings() const
{
    // A greyed box counts as not ticked.
    return {m_cmbVideoWindow->currentText(),
            m_cmbVideoBitrate->currentText(),
            m_cmbAudioSampling->currentText(),
            m_cmbAudioBitrate->currentText(),
            m_cmbAudioChannels->currentText(),
            m_chkDeInterlace->checkState() == Qt::Checked,
            m_chkDisableAudio->checkState() == Qt::Checked};
}

void MainWindow::BuildEncodeOptions()
{
    EncodeOptions = encoding::BuildEncodeOptions(settings());
}

QString MainWindow::sourcePath() const
{
    return m_lblInput->text();
}
QString MainWindow::outputFolder() const
{
    return m_lblOutput->text();
}
QString MainWindow::fileTitle() const
{
    return m_txtFileTitle->text();
}

void MainWindow::focusControl(encoding::FocusTarget target)
{
    switch (target) {
    case encoding::FocusTarget::InputButton:
        m_cmdInput->setFocus(Qt::OtherFocusReason);
        break;
    case encoding::FocusTarget::OutputButton:
        m_cmdOutput->setFocus(Qt::OtherFocusReason);
        break;
    case encoding::FocusTarget::FileTitle:
        m_txtFileTitle->setFocus(Qt::OtherFocusReason);
        break;
    }
}

void MainWindow::setCommand(const encoding::CommandLine& command)
{
    m_command = command;
    m_txtApp->setPlainText(command.text);
}

encoding::CommandLine MainWindow::command() const
{
    return {m_txtApp->toPlainText(), m_command.program, m_command.arguments};
}

void MainWindow::setEncodeEnabled(bool enabled)
{
    m_cmdEncode->setEnabled(enabled);
}

void MainWindow::cmdInput_Click()
{
    // While a tool runs, no input reaches the window, but a screen reader's "press" is no
    // input event: the choice would change what the running request reads next.
    if (m_runner.isRunning())
        return;
    const auto path = m_choosers.openFile(this, "Open Video File to Encode", videoFileFilter());
    if (!path)
        return;
    m_lblInput->setText(*path);
    // A long path is cut off in the field; the whole of it shows on hovering.
    m_lblInput->setToolTip(*path);
    m_txtFileTitle->setText(encoding::proposeOutputName(QFileInfo(*path).fileName()));
}

void MainWindow::cmdOutput_Click()
{
    if (m_runner.isRunning())
        return;
    QString folder = mdlMain::BrowseForFolder(m_choosers, this, "Select Your Output Folder");
    if (!folder.isEmpty() && !folder.endsWith(QDir::separator()))
        folder += QDir::separator();
    m_lblOutput->setText(folder);
    m_lblOutput->setToolTip(folder);
}

void MainWindow::cmdEncode_Click()
{
    m_job.run();
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    // The window itself never closes: Yes ends the whole process.
    event->ignore();
    m_errors.guard([this] {
        // notify() still leaves the answer in MsgAnswer, for whoever reads it there.
        if (process::notify(m_notifier, "ARE YOU SURE?", process::Icon::Question,
                            process::Buttons::YesNo, "Confirm") == process::AnswerYes)
            End(0);
    });
}

void MainWindow::showEvent(QShowEvent* event)
{
    if (!m_centred) {
        m_centred = true;
        if (const QScreen* screen = this->screen()) {
            QRect frame = frameGeometry();
            frame.moveCenter(screen->availableGeometry().center());
            move(frame.topLeft());
        }
    }
    QWidget::showEvent(event);
}

} // namespace quillora::ui
