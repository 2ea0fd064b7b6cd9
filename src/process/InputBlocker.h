#pragma once

#include <QEvent>
#include <QObject>

namespace quillora::process {

// Holds back everything a user can do to the program's windows for as long as it lives. It
// names what may pass, not what is input: only events that paint, lay out, time, or tell a
// window about its own state reach a window or a widget, so a kind of input that nobody listed
// (a new device, a drag, an input method) is held back as well. Events for other objects, such
// as the process being waited for, pass untouched.
class InputBlocker : public QObject
{
public:
    InputBlocker();
    ~InputBlocker() override;
    InputBlocker(const InputBlocker&) = delete;
    InputBlocker& operator=(const InputBlocker&) = delete;

    bool eventFilter(QObject* receiver, QEvent* event) override;

    // True for the kinds of event that cannot change what a window holds.
    [[nodiscard]] static bool passes(QEvent::Type type);
};

} // namespace quillora::process
