#include "EncodeWindow.h"

#include <QEventLoop>
#include <QMessageBox>

#include <thread>

namespace quillora::encoder {

namespace {
void showOutcome(QWidget* window, const Outcome& outcome)
{
    QMessageBox::critical(window, "Quillora",
                          "The encode failed: " + QString::fromStdString(outcome.message));
}
} // namespace

void encodeInWindow(ProgressWindow& window, const EncodeJob& encode, const OutcomeNotice& notice)
{
    window.show();
    QEventLoop loop;
    std::exception_ptr failure;
    std::thread worker([&] {
        try {
            encode([&](double done, double total) {
                QMetaObject::invokeMethod(&window,
                                          [&window, done, total] { window.update(done, total); });
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
    window.showFailure();
    if (!outcome.cancelled)
        (notice ? notice : showOutcome)(&window, outcome);
    std::rethrow_exception(failure);
}

} // namespace quillora::encoder
