#include "ui/ClassicLook.h"

#include <QApplication>
#include <QFile>
#include <QFont>
#include <QFontDatabase>
#include <QPainter>
#include <QPalette>
#include <QPointer>
#include <QProxyStyle>
#include <QStyleFactory>
#include <QStyleOption>
#include <QWidget>

namespace quillora::ui {

namespace {
class ClassicStyle : public QProxyStyle
{
public:
    ClassicStyle() : QProxyStyle(QStyleFactory::create("Windows")) {}

    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override
    {
        // A frame's caption takes the frame's own text colour, as a classic frame draws it,
        // not the colour of text in entry fields.
        if (hint == SH_GroupBox_TextLabelColor && option)
            return int(option->palette.color(QPalette::WindowText).rgba());
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }

    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                            QPainter* painter, const QWidget* widget) const override
    {
        QProxyStyle::drawComplexControl(control, option, painter, widget);
        // A classic drop-down list shows its entry on the field colour, like a text field,
        // not on the button face; with the focus it shows it highlighted, and disabled it
        // keeps the face.
        const auto* combo = qstyleoption_cast<const QStyleOptionComboBox*>(option);
        if (control == CC_ComboBox && combo && !combo->editable && (combo->state & State_Enabled) &&
            !(combo->state & State_HasFocus))
            painter->fillRect(subControlRect(CC_ComboBox, combo, SC_ComboBoxEditField, widget),
                              combo->palette.brush(QPalette::Base));
    }
};
} // namespace

QStyle* classicStyle()
{
    static QPointer<QStyle> style;
    if (!style) {
        style = new ClassicStyle;
        style->setParent(qApp);
    }
    return style;
}

void applyClassicStyle(QWidget* widget)
{
    widget->setStyle(classicStyle());
    for (QWidget* child : widget->findChildren<QWidget*>())
        child->setStyle(classicStyle());
}

const QColor white(255, 255, 255);
const QColor buttonGrey(224, 224, 224);
const QColor frameCaptionRed(192, 0, 0);

// Debian's free Tahoma comes with Wine's fonts, which fontconfig does not list. Only the
// regular face is taken: the outlines of Wine's bold face are no heavier than the regular ones
// (its bold shapes exist only as bitmaps), while a bold request on the regular face is drawn
// emboldened, which really looks bold.
void registerTahoma()
{
    static const bool registered = [] {
        const char* file = "/usr/share/wine/fonts/tahoma.ttf";
        if (QFile::exists(file))
            QFontDatabase::addApplicationFont(file);
        return true;
    }();
    Q_UNUSED(registered);
}

QFont tahoma(qreal pointSize, bool bold)
{
    registerTahoma();
    // Tahoma where it is installed, the system's sans-serif otherwise.
    QFont font("Tahoma");
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(pointSize);
    font.setBold(bold);
    return font;
}

// Controls inside a frame would otherwise inherit its dark red caption colour. The disabled
// colours stay the style's, so a disabled control still looks disabled.
void setColour(QWidget* widget, QPalette::ColorRole role, const QColor& colour)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Active, role, colour);
    palette.setColor(QPalette::Inactive, role, colour);
    widget->setPalette(palette);
}

void setBackground(QWidget* widget, const QColor& colour)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, colour);
    widget->setPalette(palette);
    widget->setBackgroundRole(QPalette::Window);
    widget->setAutoFillBackground(true);
}

// The classic raised and sunken edges: white and the face colour on the lit side, mid and dark
// grey on the shaded side.
void setEdgeColours(QWidget* widget, const QColor& face)
{
    setColour(widget, QPalette::Light, white);
    setColour(widget, QPalette::Midlight, face);
    setColour(widget, QPalette::Dark, QColor(128, 128, 128));
    setColour(widget, QPalette::Shadow, QColor(64, 64, 64));
}
QRect twips(int left, int top, int width, int height)
{
    return QRect(qRound(left / 15.0), qRound(top / 15.0), qRound(width / 15.0),
                 qRound(height / 15.0));
}

} // namespace quillora::ui
