#pragma once

#include "process/Notifier.h"

#include <QString>

#include <functional>
#include <stdexcept>

namespace quillora::ui {
class MainWindow;
}

namespace quillora::app {

class SingleInstance;

// An error with a number, as the last-resort report shows it.
class NumberedError : public std::runtime_error
{
public:
    NumberedError(int number, const std::string& description)
        : std::runtime_error(description), m_number(number)
    {}
    int number() const { return m_number; }

private:
    int m_number;
};

QString lastResortReportText(int number, const QString& description);

// Called before each numbered step of the start-up sequence; tests record the order with it,
// or throw from it to see the last-resort report.
using StepObserver = std::function<void(int step)>;

// The main window's load handler: single instance, window shown, settings filled, option
// string built, splash shown until it closes itself. Any error on the way ends in the
// last-resort report and the end of the process.
void Form_Load(ui::MainWindow& window, process::Notifier& notifier, SingleInstance& instance,
               const StepObserver& beforeStep = {});

} // namespace quillora::app
