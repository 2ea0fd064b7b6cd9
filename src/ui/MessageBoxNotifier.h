#pragma once

#include "process/Notifier.h"

class QWidget;

namespace quillora::ui {

// Real, modal message boxes.
class MessageBoxNotifier : public process::Notifier
{
public:
    int show(const QString& text, process::Icon icon, process::Buttons buttons,
             const QString& title) override;
};

} // namespace quillora::ui
