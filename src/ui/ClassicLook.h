#pragma once

#include <QColor>
#include <QFont>
#include <QPalette>
#include <QRect>

class QStyle;
class QWidget;

namespace quillora::ui {

// The classic look of the main window: group frames with the caption standing on the border
// line, buttons with a flat face and a raised edge, sunken fields. Dialogs and message boxes
// keep the application's own style, so they look like every other program on the desktop.
QStyle* classicStyle();

// Gives the widget and everything inside it the classic look.
void applyClassicStyle(QWidget* widget);

// Positions and sizes are laid out in twips, 15 to a pixel.
QRect twips(int left, int top, int width, int height);

// The window's font: Tahoma where it is installed, the system's sans-serif otherwise.
QFont tahoma(qreal pointSize, bool bold = false);

extern const QColor white;
extern const QColor buttonGrey;
extern const QColor frameCaptionRed;

// A colour of the widget's palette, for the active and inactive window alike.
void setColour(QWidget* widget, QPalette::ColorRole role, const QColor& colour);
// A background of its own, painted by the widget.
void setBackground(QWidget* widget, const QColor& colour);
// The classic raised and sunken edges around the face colour.
void setEdgeColours(QWidget* widget, const QColor& face);

} // namespace quillora::ui
