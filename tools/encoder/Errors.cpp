#include "Errors.h"

#include "EncoderOptions.h"

#include <new>

namespace quillora::encoder {

Outcome outcomeOf(const std::exception_ptr& error) noexcept
{
    if (!error)
        return {};
    try {
        std::rethrow_exception(error);
    } catch (const WrongFiles& e) {
        return {WrongCommandLine, e.what()};
    } catch (const UsageError& e) {
        return {WrongCommandLine, e.what(), false, true};
    } catch (const NotReplaced& e) {
        return {NotAllowedToReplace, e.what()};
    } catch (const Cancelled& e) {
        return {EncodeFailed, e.what(), true};
    } catch (const std::bad_alloc&) {
        return {EncodeFailed, "out of memory"};
    } catch (const std::exception& e) {
        return {EncodeFailed, e.what()};
    } catch (...) {
        return {EncodeFailed, "an unexpected failure"};
    }
}

} // namespace quillora::encoder
