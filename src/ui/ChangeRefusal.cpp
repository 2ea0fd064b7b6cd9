#include "ui/Accessibility.h"
#include "ui/AccessibleFactory.h"

#include <QAccessible>
#include <QPointer>
#include <QScopedValueRollback>
#include <QWidget>

// A screen reader calls the controls directly, past every event filter: while a tool runs, the
// changes it asks for are refused here.

namespace quillora::ui {

namespace {
// Names the ChangeRefusal of a window whose controls refuse changes while it is busy.
constexpr char refusalProperty[] = "quilloraChangeRefusal";

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

} // namespace

void installAccessibleFactory()
{
    static const bool installed = [] {
        QAccessible::installFactory(createInterface);
        return true;
    }();
    Q_UNUSED(installed);
}

void refuseChangesWhile(QWidget* window, std::function<bool()> busy)
{
    installAccessibleFactory();
    auto* refusal = new ChangeRefusal(window, std::move(busy));
    window->setProperty(refusalProperty, QVariant::fromValue(static_cast<QObject*>(refusal)));
}

} // namespace quillora::ui
