#include "ui/ClassicLook.h"

#include <QApplication>
#include <QPainter>
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

} // namespace quillora::ui
