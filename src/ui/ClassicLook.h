#pragma once

class QStyle;
class QWidget;

namespace quillora::ui {

// The classic look of the main window: group frames with the caption standing on the border
// line, buttons with a flat face and a raised edge, sunken fields. Dialogs and message boxes
// keep the application's own style, so they look like every other program on the desktop.
QStyle* classicStyle();

// Gives the widget and everything inside it the classic look.
void applyClassicStyle(QWidget* widget);

} // namespace quillora::ui
