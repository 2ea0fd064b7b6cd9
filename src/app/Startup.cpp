#include "app/Startup.h"

#include "app/SingleInstance.h"
#include "ui/Lifecycle.h"
#include "ui/MainWindow.h"
#include "ui/SplashWindow.h"

#include <new>

namespace quillora::app {

namespace {
// Numbers for errors that carry none of their own.
constexpr int outOfMemoryNumber = 7;
constexpr int internalErrorNumber = 51;

void reportAndEnd(process::Notifier& notifier, int number, const QString& description)
{
    process::notifyError(notifier, lastResortReportText(number, description));
    ui::End(1);
}
} // namespace

QString lastResortReportText(int number, const QString& description)
{
    return "INTERNAL ERROR OCCURED - ERROR NUMBER: " + QString::number(number) + " - " +
           description.toUpper() + ". PLEASE CONTACT SUPPORT.";
}

void Form_Load(ui::MainWindow& window, process::Notifier& notifier, SingleInstance& instance,
               const StepObserver& beforeStep)
{
    // The lists' handlers and whatever else the steps set off report to this sequence, not to
    // the user: an error they raise is thrown again here, between two steps.
    ui::HandlerErrors::Hold handlerErrors(window.handlerErrors());
    const auto step = [&](int number) {
        handlerErrors.rethrow();
        if (beforeStep)
            beforeStep(number);
    };
    try {
        step(2);
        if (instance.otherInstanceRunning()) {
            process::notifyError(notifier, "THIS SOFTWARE IS ALREADY OPEN!");
            ui::End(1);
            return;
        }
        step(3);
        window.show();
        step(4);
        window.EncodeOptions.clear();
        step(5);
        window.fillSettingLists();
        step(6);
        window.BuildEncodeOptions();
        step(7);
        window.setCursor(Qt::WaitCursor);
        step(8);
        ui::frmSplash = new ui::SplashWindow(&window);
        step(9);
        ui::frmSplash->setCursor(Qt::WaitCursor);
        step(10);
        ui::frmSplash->exec();
        step(11);
        window.unsetCursor();
        handlerErrors.rethrow();
    } catch (const NumberedError& error) {
        reportAndEnd(notifier, error.number(), QString::fromLocal8Bit(error.what()));
        return;
    } catch (const std::bad_alloc&) {
        reportAndEnd(notifier, outOfMemoryNumber, "Out of memory");
        return;
    } catch (const std::exception& error) {
        reportAndEnd(notifier, internalErrorNumber, QString::fromLocal8Bit(error.what()));
        return;
    } catch (...) {
        reportAndEnd(notifier, internalErrorNumber, "Unknown error");
        return;
    }
    if (beforeStep)
        beforeStep(12);
}

} // namespace quillora::app
