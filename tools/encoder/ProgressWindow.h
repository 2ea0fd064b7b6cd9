#pragma once

#include <QElapsedTimer>
#include <QString>
#include <QWidget>

#include <atomic>
#include <functional>

class QLabel;
class QProgressBar;
class QPushButton;

namespace quillora::encoder {

// The status line: elapsed time, share done, time remaining and speed, from seconds.
QString progressText(double elapsed, double done, double total);

// Lets a few progress updates a second through: plenty for a person, and quiet for the
// terminal or the window's event queue however many packets the source has. The first update
// is always due. For use on one thread.
class ProgressThrottle
{
public:
    [[nodiscard]] bool due();
    // Milliseconds since the first call.
    [[nodiscard]] qint64 elapsed() const { return m_clock.elapsed(); }

private:
    static constexpr qint64 interval = 250;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
};

// The encoder's own window: the user's only sign of progress while the desktop program waits.
// Its Cancel button and its close box ask whether to cancel; a cancel is requested through
// `cancel`.
class ProgressWindow : public QWidget
{
public:
    // `askToCancel` asks the user and says yes or no; tests answer it.
    ProgressWindow(const QString& input, const QString& output, std::atomic<bool>& cancel,
                   std::function<bool(QWidget*)> askToCancel = {});

    void update(double done, double total);
    void showFailure();
    void showCancelled();
    // After the encode the window closes without asking.
    void setFinished();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void createFileLabels(const QString& input, const QString& output);
    void createProgress();
    void createButtons();
    void askToCancel();

    std::atomic<bool>& m_cancel;
    std::function<bool(QWidget*)> m_askToCancel;
    QProgressBar* m_bar = nullptr;
    QLabel* m_status = nullptr;
    QPushButton* m_cancelButton = nullptr;
    QElapsedTimer m_clock;
    bool m_finished = false;
};

} // namespace quillora::encoder
