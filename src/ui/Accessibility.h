#pragma once

#include <functional>

class QLabel;
class QString;
class QWidget;

namespace quillora::ui {

// While busy() holds, a screen reader still reads every control of the window as before but
// changes none of them: presses, toggles, values and text edits that it asks for are refused,
// as the window refuses input then. Screen readers call the controls directly, past every
// event filter, so this is the only place where they can be stopped. Called before the
// window's controls are made.
void refuseChangesWhile(QWidget* window, std::function<bool()> busy);

// A top-level widget is read as a window with its title, as screen readers expect of a
// program's main window, not as a bare pane.
void presentAsWindow(QWidget* window);

// Gives a control the name of the caption beside it, as a screen reader announces it, and makes
// the caption its buddy; a unit caption ("Kbps") becomes the control's description. A drop-down
// list is then read by that name with its entry as its text, not by its entry alone.
void nameAfterCaption(QWidget* control, QLabel* caption, const QLabel* unit = nullptr);

// A display field is read by the given name, with what it shows as its text.
void nameDisplayField(QLabel* field, const QString& name);

} // namespace quillora::ui
