#include "ProgressWindow.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdint>

namespace quillora::encoder {

namespace {
QString clock(double seconds)
{
    // A damaged source may declare any length; past 99999 hours a time says nothing more.
    const int64_t s = static_cast<int64_t>(std::clamp(seconds, 0.0, 99999 * 3600.0));
    return QString("%1:%2:%3")
        .arg(s / 3600)
        .arg(s / 60 % 60, 2, 10, QChar('0'))
        .arg(s % 60, 2, 10, QChar('0'));
}

bool askWithMessageBox(QWidget* window)
{
    return QMessageBox::question(window, "Quillora", "Cancel this encode?") == QMessageBox::Yes;
}
} // namespace

QString progressText(double elapsed, double done, double total)
{
    const double speed = elapsed > 0 ? done / elapsed : 0;
    QString text = "Elapsed " + clock(elapsed);
    if (total > 0) {
        const double share = std::min(1.0, done / total);
        const double remaining = speed > 0 ? std::max(0.0, total - done) / speed : 0;
        text += QString(" - %1% - remaining %2").arg(int(share * 100)).arg(clock(remaining));
    }
    return text + QString(" - speed %1x").arg(speed, 0, 'f', 1);
}

bool ProgressThrottle::due()
{
    if (!m_clock.isValid()) {
        m_clock.start();
        return true;
    }
    if (m_clock.elapsed() - m_last < interval)
        return false;
    m_last = m_clock.elapsed();
    return true;
}

ProgressWindow::ProgressWindow(const QString& input, const QString& output,
                               std::atomic<bool>& cancel, std::function<bool(QWidget*)> askToCancel)
    : m_cancel(cancel), m_askToCancel(askToCancel ? std::move(askToCancel) : askWithMessageBox)
{
    setWindowTitle("Quillora - Encoding");
    new QVBoxLayout(this);
    createFileLabels(input, output);
    createProgress();
    createButtons();
    resize(460, 160);
    m_clock.start();
}

void ProgressWindow::createFileLabels(const QString& input, const QString& output)
{
    layout()->addWidget(new QLabel("From: " + QFileInfo(input).absoluteFilePath()));
    layout()->addWidget(new QLabel("To: " + QFileInfo(output).absoluteFilePath()));
}

void ProgressWindow::createProgress()
{
    m_bar = new QProgressBar;
    m_bar->setRange(0, 1000);
    m_bar->setAccessibleName("Progress");
    layout()->addWidget(m_bar);
    m_status = new QLabel("Starting...");
    layout()->addWidget(m_status);
}

void ProgressWindow::createButtons()
{
    auto* row = new QHBoxLayout;
    row->addStretch();
    m_cancelButton = new QPushButton("&Cancel");
    connect(m_cancelButton, &QPushButton::clicked, this, [this] { askToCancel(); });
    row->addWidget(m_cancelButton);
    static_cast<QVBoxLayout*>(layout())->addLayout(row);
}

void ProgressWindow::update(double done, double total)
{
    if (total > 0)
        m_bar->setValue(static_cast<int>(std::min(1.0, done / total) * 1000));
    if (!m_cancel)
        m_status->setText(progressText(m_clock.elapsed() / 1000.0, done, total));
}

void ProgressWindow::showFailure()
{
    m_status->setText("The encode did not finish.");
}

void ProgressWindow::showCancelled()
{
    m_status->setText("Cancelled. Nothing was written.");
}

void ProgressWindow::setFinished()
{
    m_finished = true;
    m_cancelButton->setEnabled(false);
}

void ProgressWindow::askToCancel()
{
    if (m_finished || m_cancel)
        return;
    if (m_askToCancel(this) && !m_finished) {
        m_cancel = true;
        m_cancelButton->setEnabled(false);
        m_status->setText("Cancelling...");
    }
}

void ProgressWindow::closeEvent(QCloseEvent* event)
{
    if (m_finished) {
        event->accept();
        return;
    }
    // The window stays until the encode has stopped and cleaned up.
    event->ignore();
    askToCancel();
}

} // namespace quillora::encoder
