#include "ui/HandlerErrors.h"

#include <QString>

#include <cstdio>
#include <new>
#include <stdexcept>

namespace quillora::ui {

HandlerErrors::Hold::Hold(HandlerErrors& errors) : m_errors(errors), m_outer(errors.m_hold)
{
    m_errors.m_hold = this;
}

HandlerErrors::Hold::~Hold()
{
    m_errors.m_hold = m_outer;
}

void HandlerErrors::Hold::rethrow()
{
    if (m_first)
        std::rethrow_exception(std::exchange(m_first, nullptr));
}

void HandlerErrors::rethrowHeld()
{
    if (m_hold)
        m_hold->rethrow();
}

void HandlerErrors::take(std::exception_ptr error) noexcept
{
    if (m_hold) {
        // Only the first error counts: the ones after it may be its consequences.
        if (!m_hold->m_first)
            m_hold->m_first = error;
        return;
    }
    try {
        process::notifyError(m_notifier, unexpectedErrorText(error));
    } catch (...) {
        // Not even a message box: the terminal is all that is left.
        std::fputs("quillora: an error could not be reported\n", stderr);
    }
}

QString unexpectedErrorText(std::exception_ptr error)
{
    try {
        std::rethrow_exception(error);
    } catch (const std::bad_alloc&) {
        return "OUT OF MEMORY";
    } catch (const std::exception& e) {
        return QString::fromLocal8Bit(e.what()).toUpper();
    } catch (...) {
        return "AN UNEXPECTED ERROR OCCURRED";
    }
}

} // namespace quillora::ui
