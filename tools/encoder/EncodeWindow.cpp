#include "EncodeWindow.h"

#include <QEventLoop>
#include <QMessageBox>

#include <thread>

namespace quillora::encoder {

namespace {
void showOutcome(QWidget* window, const Outcome& outcome)
{
    // A cancel is what the user asked for, not an error to put right.
    if (outcome.cancelled)
        QMessageBox::information(window, "Quillora", noticeText(outcome));
    else
        QMessageBox::critical(window, "Quillora", noticeText(outcome));
}
} // namespace

QString noticeText(const Outcome& outcome)
{
    if (outcome.cancelled)
        return "The encode was cancelled. Nothing was written.";
    return "The encode failed: " + QString::fromStdString(outcome.message) + ".";
}

void encodeInWindow(ProgressWindow& window, const EncodeJob& encode, const OutcomeNotice& notice)
{
    window.show();
    QEventLoop loop;
    std::exception_ptr failure;
    std::thread worker([&] {
        ProgressThrottle throttle;
        try {
            encode([&](double done, double total) {
                if (throttle.due())
                    QMetaObject::invokeMethod(
                        &window, [&window, done, total] { window.update(done, total); });
            });
        } catch (...) {
            failure = std::current_exception();
        }
        QMetaObject::invokeMethod(&window, [&window, &loop] {
            window.setFinished();
            loop.quit();
        });
    });
    loop.exec();
    worker.join();
    if (!failure)
        return;
    const Outcome outcome = outcomeOf(failure);
    if (outcome.cancelled)
        window.showCancelled();
    else
        window.showFailure();
    (notice ? notice : showOutcome)(&window, outcome);
    std::rethrow_exception(failure);
}

} // namespace quillora::encoder
