#include "process/InputBlocker.h"

#include <QCoreApplication>

namespace quillora::process {

InputBlocker::InputBlocker()
{
    QCoreApplication::instance()->installEventFilter(this);
}

InputBlocker::~InputBlocker()
{
    QCoreApplication::instance()->removeEventFilter(this);
}

bool InputBlocker::eventFilter(QObject* receiver, QEvent* event)
{
    if (!(receiver->isWidgetType() || receiver->isWindowType()) || passes(event->type()))
        return false;
    // Ignored as well as swallowed: a close request or a drag is refused, not taken.
    event->ignore();
    return true;
}

bool InputBlocker::passes(QEvent::Type type)
{
    switch (type) {
    // Painting and the window system's view of the window.
    case QEvent::Paint:
    case QEvent::UpdateRequest:
    case QEvent::UpdateLater:
    case QEvent::Expose:
    case QEvent::PlatformSurface:
    case QEvent::WinIdChange:
    case QEvent::ScreenChangeInternal:
    case QEvent::WindowChangeInternal:
    case QEvent::Show:
    case QEvent::Hide:
    case QEvent::ShowToParent:
    case QEvent::HideToParent:
    case QEvent::Move:
    case QEvent::Resize:
    case QEvent::WindowStateChange:
    case QEvent::ZOrderChange:
    case QEvent::Create:
    case QEvent::Destroy:
    // Activation and focus, which follow the window manager.
    case QEvent::WindowActivate:
    case QEvent::WindowDeactivate:
    case QEvent::ActivationChange:
    case QEvent::WindowBlocked:
    case QEvent::WindowUnblocked:
    case QEvent::FocusIn:
    case QEvent::FocusOut:
    case QEvent::FocusAboutToChange:
    case QEvent::GrabMouse:
    case QEvent::GrabKeyboard:
    case QEvent::UngrabMouse:
    case QEvent::UngrabKeyboard:
    // The pointer leaving takes a hover highlight away; it never adds one.
    case QEvent::Enter:
    case QEvent::Leave:
    case QEvent::HoverLeave:
    // Looking, not touching.
    case QEvent::ToolTip:
    case QEvent::StatusTip:
    case QEvent::InputMethodQuery:
    // Layout, style and state changes made by the program itself.
    case QEvent::Polish:
    case QEvent::PolishRequest:
    case QEvent::LayoutRequest:
    case QEvent::ChildAdded:
    case QEvent::ChildPolished:
    case QEvent::ChildRemoved:
    case QEvent::ParentChange:
    case QEvent::ParentAboutToChange:
    case QEvent::EmbeddingControl:
    case QEvent::ContentsRectChange:
    case QEvent::StyleChange:
    case QEvent::StyleAnimationUpdate:
    case QEvent::ThemeChange:
    case QEvent::FontChange:
    case QEvent::PaletteChange:
    case QEvent::ApplicationFontChange:
    case QEvent::ApplicationPaletteChange:
    case QEvent::ApplicationLayoutDirectionChange:
    case QEvent::ApplicationWindowIconChange:
    case QEvent::LanguageChange:
    case QEvent::LocaleChange:
    case QEvent::LayoutDirectionChange:
    case QEvent::EnabledChange:
    case QEvent::ReadOnlyChange:
    case QEvent::ModifiedChange:
    case QEvent::WindowTitleChange:
    case QEvent::WindowIconChange:
    case QEvent::IconTextChange:
    case QEvent::ToolTipChange:
    case QEvent::CursorChange:
    case QEvent::MouseTrackingChange:
    case QEvent::AcceptDropsChange:
    case QEvent::DynamicPropertyChange:
    case QEvent::ToolBarChange:
    // The program's own timers and queued calls.
    case QEvent::Timer:
    case QEvent::MetaCall:
    case QEvent::DeferredDelete:
    case QEvent::ThreadChange:
        return true;
    default:
        return false;
    }
}

} // namespace quillora::process
