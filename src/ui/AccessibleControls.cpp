#include "ui/Accessibility.h"
#include "ui/AccessibleFactory.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QComboBox>
#include <QEvent>
#include <QLabel>
#include <QStyle>
#include <QStyleOptionComboBox>

// How the window's controls read to a screen reader: names, texts and roles.

namespace quillora::ui {

namespace {
// Marks the controls whose accessible interface is ours; the value says which one.
constexpr char kindProperty[] = "quilloraAccessibleKind";
constexpr char listKind[] = "list";
constexpr char displayFieldKind[] = "displayField";
constexpr char windowKind[] = "window";

// Text that the user reads but cannot edit or select, drawn in one line from the left edge of
// an area of the control.
class ReadOnlyText : public QAccessibleWidget, public QAccessibleTextInterface
{
public:
    using QAccessibleWidget::QAccessibleWidget;

    virtual QString shownText() const = 0;
    // The control's area in which the text is drawn, in the control's coordinates.
    virtual QRect textArea() const = 0;

    void* interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    // Both bases have a text(); the widget's one (name, description) stays reachable.
    using QAccessibleWidget::text;
    QString text(int startOffset, int endOffset) const override
    {
        return shownText().mid(startOffset, endOffset - startOffset);
    }
    int characterCount() const override { return int(shownText().size()); }

    QRect characterRect(int offset) const override
    {
        const QString text = shownText();
        if (offset < 0 || offset >= text.size())
            return {};
        const QFontMetrics metrics = widget()->fontMetrics();
        const QRect area = textArea();
        const int left = area.left() + metrics.horizontalAdvance(text.left(offset));
        const int top = area.top() + (area.height() - metrics.height()) / 2;
        const QRect local(left, top, metrics.horizontalAdvance(text.at(offset)), metrics.height());
        return local.translated(widget()->mapToGlobal(QPoint(0, 0)));
    }

    int offsetAtPoint(const QPoint& point) const override
    {
        for (int offset = 0; offset < characterCount(); ++offset)
            if (characterRect(offset).contains(point))
                return offset;
        return -1;
    }

    void selection(int, int* startOffset, int* endOffset) const override
    {
        *startOffset = *endOffset = 0;
    }
    int selectionCount() const override { return 0; }
    void addSelection(int, int) override {}
    void removeSelection(int) override {}
    void setSelection(int, int, int) override {}
    int cursorPosition() const override { return 0; }
    void setCursorPosition(int) override {}
    void scrollToSubstring(int, int) override {}
    QString attributes(int, int* startOffset, int* endOffset) const override
    {
        *startOffset = 0;
        *endOffset = characterCount();
        return {};
    }
};

// A drop-down list, read by the caption beside it and showing its selected entry as its text.
// Qt's own interface on Linux names a list after its entry, so that "Video Bitrate:" and
// "Audio Bitrate:" could not be told apart.
class NamedList : public ReadOnlyText
{
public:
    explicit NamedList(QComboBox* list) : ReadOnlyText(list, QAccessible::ComboBox) {}

    QComboBox* list() const { return static_cast<QComboBox*>(widget()); }
    QString shownText() const override { return list()->currentText(); }
    QRect textArea() const override
    {
        QStyleOptionComboBox option;
        option.initFrom(list());
        return list()->style()->subControlRect(QStyle::CC_ComboBox, &option,
                                               QStyle::SC_ComboBoxEditField, list());
    }

    QString text(QAccessible::Text type) const override
    {
        if (type == QAccessible::Value)
            return shownText();
        return QAccessibleWidget::text(type);
    }
    using ReadOnlyText::text;

    // The entries, as the list that drops down shows them.
    int childCount() const override { return 1; }
    QAccessibleInterface* child(int index) const override
    {
        return index == 0 ? QAccessible::queryAccessibleInterface(list()->view()) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override
    {
        return child && child->object() == list()->view() ? 0 : -1;
    }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }

    QStringList actionNames() const override
    {
        return QStringList{showMenuAction(), pressAction()} + QAccessibleWidget::actionNames();
    }
    void doAction(const QString& action) override
    {
        if (action != showMenuAction() && action != pressAction())
            return QAccessibleWidget::doAction(action);
        if (list()->view()->isVisible())
            list()->hidePopup();
        else
            list()->showPopup();
    }
};

// A display field: read by its name, with the path it shows as its text.
class DisplayField : public ReadOnlyText
{
public:
    explicit DisplayField(QLabel* field) : ReadOnlyText(field, QAccessible::StaticText) {}

    QLabel* field() const { return static_cast<QLabel*>(widget()); }
    QString shownText() const override { return field()->text(); }
    QRect textArea() const override { return field()->contentsRect(); }

    QString text(QAccessible::Text type) const override
    {
        if (type == QAccessible::Value)
            return shownText();
        // The tool tip repeats the path for the eye, where a long one is cut off; read aloud,
        // it would only say the text twice.
        if (type == QAccessible::Description)
            return field()->accessibleDescription();
        return QAccessibleWidget::text(type);
    }
    using ReadOnlyText::text;

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.readOnly = true;
        return state;
    }
};

// A label tells nobody when its text changes, but it always repaints then: that is where a
// new path is noticed and announced to screen readers.
class TextChangeAnnouncer : public QObject
{
public:
    explicit TextChangeAnnouncer(QLabel* field) : QObject(field), m_shown(field->text())
    {
        field->installEventFilter(this);
    }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint) {
            const QString text = static_cast<QLabel*>(watched)->text();
            if (text != m_shown) {
                QAccessibleTextUpdateEvent update(watched, 0, m_shown, text);
                m_shown = text;
                QAccessible::updateAccessibility(&update);
            }
        }
        return false;
    }

private:
    QString m_shown;
};

// The kind is set before anything could ask for the control's interface: Qt keeps the first
// interface it makes for an object.
void markAs(QWidget* control, const char* kind)
{
    installAccessibleFactory();
    control->setProperty(kindProperty, QByteArray(kind));
}
} // namespace

QAccessibleInterface* createOwnInterface(QObject* object)
{
    const QByteArray kind = object->property(kindProperty).toByteArray();
    if (kind == listKind)
        if (auto* list = qobject_cast<QComboBox*>(object))
            return new NamedList(list);
    if (kind == displayFieldKind)
        if (auto* field = qobject_cast<QLabel*>(object))
            return new DisplayField(field);
    if (kind == windowKind)
        if (auto* window = qobject_cast<QWidget*>(object))
            return new QAccessibleWidget(window, QAccessible::Window);
    return nullptr;
}

void presentAsWindow(QWidget* window)
{
    markAs(window, windowKind);
}

void nameAfterCaption(QWidget* control, QLabel* caption, const QLabel* unit)
{
    if (qobject_cast<QComboBox*>(control))
        markAs(control, listKind);
    caption->setBuddy(control);
    control->setAccessibleName(caption->text());
    if (unit)
        control->setAccessibleDescription(unit->text());
}

void nameDisplayField(QLabel* field, const QString& name)
{
    markAs(field, displayFieldKind);
    field->setAccessibleName(name);
    new TextChangeAnnouncer(field);
}

} // namespace quillora::ui
