#include "ui/Accessibility.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QComboBox>
#include <QEvent>
#include <QLabel>
#include <QPointer>
#include <QScopedValueRollback>
#include <QStyle>
#include <QStyleOptionComboBox>

namespace quillora::ui {

namespace {
// Marks the controls whose accessible interface is ours; the value says which one.
constexpr char kindProperty[] = "quilloraAccessibleKind";
constexpr char listKind[] = "list";
constexpr char displayFieldKind[] = "displayField";
constexpr char windowKind[] = "window";
// Names the ChangeRefusal of a window whose controls refuse changes while it is busy.
constexpr char refusalProperty[] = "quilloraChangeRefusal";

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

// Our own interfaces, for the controls marked with a kind.
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

// Whether a window's controls refuse changes now; owned by the window.
class ChangeRefusal : public QObject
{
public:
    ChangeRefusal(QWidget* window, std::function<bool()> busy)
        : QObject(window), m_busy(std::move(busy))
    {}

    [[nodiscard]] bool refuses() const { return m_busy(); }

private:
    std::function<bool()> m_busy;
};

ChangeRefusal* refusalFor(QObject* object)
{
    if (!object->isWidgetType())
        return nullptr;
    const QWidget* window = static_cast<QWidget*>(object)->window();
    return static_cast<ChangeRefusal*>(window->property(refusalProperty).value<QObject*>());
}

// A control read through the interface that it would have anyway, Qt's or ours, with every
// change that a screen reader asks for refused while the control's window is busy. Reading
// goes to that interface unchanged, so the tree that a screen reader sees stays the same;
// the sub-interfaces that change something (actions, values, text edits) are this one's.
class RefusingChanges : public QAccessibleInterface,
                        public QAccessibleActionInterface,
                        public QAccessibleValueInterface,
                        public QAccessibleEditableTextInterface
{
public:
    RefusingChanges(QAccessibleInterface* inner, ChangeRefusal* refusal)
        : m_inner(inner), m_innerId(QAccessible::uniqueId(inner)), m_refusal(refusal)
    {}
    // The inner interface is in Qt's cache under its own id, which nobody else was given;
    // it goes with this one.
    ~RefusingChanges() override { QAccessible::deleteAccessibleInterface(m_innerId); }

    bool isValid() const override { return m_inner->isValid(); }
    QObject* object() const override { return m_inner->object(); }
    QWindow* window() const override { return m_inner->window(); }
    QList<QPair<QAccessibleInterface*, QAccessible::Relation>>
    relations(QAccessible::Relation match) const override
    {
        return m_inner->relations(match);
    }
    QAccessibleInterface* focusChild() const override { return m_inner->focusChild(); }
    QAccessibleInterface* childAt(int x, int y) const override { return m_inner->childAt(x, y); }
    QAccessibleInterface* parent() const override { return m_inner->parent(); }
    QAccessibleInterface* child(int index) const override { return m_inner->child(index); }
    int childCount() const override { return m_inner->childCount(); }
    int indexOfChild(const QAccessibleInterface* child) const override
    {
        return m_inner->indexOfChild(child);
    }
    QString text(QAccessible::Text type) const override { return m_inner->text(type); }
    void setText(QAccessible::Text type, const QString& text) override
    {
        if (!refused())
            m_inner->setText(type, text);
    }
    QRect rect() const override { return m_inner->rect(); }
    QAccessible::Role role() const override { return m_inner->role(); }
    QAccessible::State state() const override { return m_inner->state(); }
    QColor foregroundColor() const override { return m_inner->foregroundColor(); }
    QColor backgroundColor() const override { return m_inner->backgroundColor(); }
    void virtual_hook(int id, void* data) override { m_inner->virtual_hook(id, data); }

    void* interface_cast(QAccessible::InterfaceType type) override
    {
        switch (type) {
        case QAccessible::ActionInterface:
            return actions() ? static_cast<QAccessibleActionInterface*>(this) : nullptr;
        case QAccessible::ValueInterface:
            return value() ? static_cast<QAccessibleValueInterface*>(this) : nullptr;
        case QAccessible::EditableTextInterface:
            return editableText() ? static_cast<QAccessibleEditableTextInterface*>(this) : nullptr;
        default:
            return m_inner->interface_cast(type);
        }
    }

    // The actions keep their names, so that a screen reader reads the same control; only
    // doing them waits until the window is free.
    QStringList actionNames() const override { return actions()->actionNames(); }
    QString localizedActionName(const QString& name) const override
    {
        return actions()->localizedActionName(name);
    }
    QString localizedActionDescription(const QString& name) const override
    {
        return actions()->localizedActionDescription(name);
    }
    QStringList keyBindingsForAction(const QString& name) const override
    {
        return actions()->keyBindingsForAction(name);
    }
    void doAction(const QString& name) override
    {
        if (!refused())
            actions()->doAction(name);
    }

    QVariant currentValue() const override { return value()->currentValue(); }
    QVariant maximumValue() const override { return value()->maximumValue(); }
    QVariant minimumValue() const override { return value()->minimumValue(); }
    QVariant minimumStepSize() const override { return value()->minimumStepSize(); }
    void setCurrentValue(const QVariant& newValue) override
    {
        if (!refused())
            value()->setCurrentValue(newValue);
    }

    void deleteText(int startOffset, int endOffset) override
    {
        if (!refused())
            editableText()->deleteText(startOffset, endOffset);
    }
    void insertText(int offset, const QString& text) override
    {
        if (!refused())
            editableText()->insertText(offset, text);
    }
    void replaceText(int startOffset, int endOffset, const QString& text) override
    {
        if (!refused())
            editableText()->replaceText(startOffset, endOffset, text);
    }

private:
    [[nodiscard]] bool refused() const { return m_refusal && m_refusal->refuses(); }
    QAccessibleActionInterface* actions() const { return m_inner->actionInterface(); }
    QAccessibleValueInterface* value() const { return m_inner->valueInterface(); }
    QAccessibleEditableTextInterface* editableText() const
    {
        return m_inner->editableTextInterface();
    }

    QAccessibleInterface* m_inner;
    QAccessible::Id m_innerId;
    QPointer<ChangeRefusal> m_refusal;
};

// The object whose interface the factories after ours are being asked for.
QObject* passedOn = nullptr;

QAccessibleInterface* createInterface(const QString&, QObject* object)
{
    if (!object || object == passedOn)
        return nullptr;
    QAccessibleInterface* inner = createOwnInterface(object);
    ChangeRefusal* refusal = refusalFor(object);
    if (!refusal)
        return inner;
    // Qt's own interfaces for its widgets are private classes, made only by its factory: the
    // control's interface is asked for once more, past this factory, and wrapped.
    if (!inner) {
        const QScopedValueRollback passing(passedOn, object);
        inner = QAccessible::queryAccessibleInterface(object);
    }
    return inner ? new RefusingChanges(inner, refusal) : nullptr;
}

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

void installFactory()
{
    static const bool installed = [] {
        QAccessible::installFactory(createInterface);
        return true;
    }();
    Q_UNUSED(installed);
}

// The kind is set before anything could ask for the control's interface: Qt keeps the first
// interface it makes for an object.
void markAs(QWidget* control, const char* kind)
{
    installFactory();
    control->setProperty(kindProperty, QByteArray(kind));
}
} // namespace

void refuseChangesWhile(QWidget* window, std::function<bool()> busy)
{
    installFactory();
    auto* refusal = new ChangeRefusal(window, std::move(busy));
    window->setProperty(refusalProperty, QVariant::fromValue(static_cast<QObject*>(refusal)));
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
