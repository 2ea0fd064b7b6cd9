#pragma once

class QLabel;
class QString;
class QWidget;

namespace quillora::ui {

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
