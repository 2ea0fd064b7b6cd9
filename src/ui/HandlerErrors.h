#pragma once

#include "process/Notifier.h"

#include <exception>
#include <utility>

namespace quillora::ui {

// Qt must never see an exception, so every handler that can fail runs inside guard(), which
// hands whatever it throws to one place. Normally that is a message box with the error's own
// words; while a caller holds the errors (the start-up sequence does), the first one is kept
// for that caller to throw again in its own frame, outside Qt.
class HandlerErrors
{
public:
    explicit HandlerErrors(process::Notifier& notifier) : m_notifier(notifier) {}
    HandlerErrors(const HandlerErrors&) = delete;
    HandlerErrors& operator=(const HandlerErrors&) = delete;

    template <typename Handler> void guard(Handler&& handler) noexcept
    {
        try {
            std::forward<Handler>(handler)();
        } catch (...) {
            take(std::current_exception());
        }
    }

    // The handler wrapped for connect(); the signal's arguments are not passed on.
    template <typename Handler> auto guarded(Handler handler)
    {
        return [this, handler = std::move(handler)](auto&&...) { guard(handler); };
    }

    // While a Hold lives, errors are kept rather than shown.
    class Hold
    {
    public:
        explicit Hold(HandlerErrors& errors);
        ~Hold();
        Hold(const Hold&) = delete;
        Hold& operator=(const Hold&) = delete;

        // Throws the first error kept since the last call, if there is one.
        void rethrow();

    private:
        HandlerErrors& m_errors;
        Hold* m_outer;
        std::exception_ptr m_first;

        friend class HandlerErrors;
    };

    // Throws the first error kept by the innermost Hold, if there is one; nothing otherwise.
    // Code that sets off handlers one after another calls it to stop at the first failure.
    void rethrowHeld();

private:
    void take(std::exception_ptr error) noexcept;

    process::Notifier& m_notifier;
    Hold* m_hold = nullptr;
};

// What the window shows for an error nobody expected: its own words, in upper case.
QString unexpectedErrorText(std::exception_ptr error);

} // namespace quillora::ui
