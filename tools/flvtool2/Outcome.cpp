#include "Outcome.h"

#include "flv/Bytes.h"
#include "flv/MetadataInjector.h"

#include <new>
#include <system_error>

namespace quillora::flvtool2 {

Outcome outcomeOf(const std::exception_ptr& error, const std::string& input) noexcept
{
    if (!error)
        return {};
    try {
        try {
            std::rethrow_exception(error);
        } catch (const CommandLineError& e) {
            return {UsageError, std::string("flvtool2: ") + e.what(), true};
        } catch (const flv::FormatError& e) {
            return {NotValidFlv, "flvtool2: " + input + ": offset " + std::to_string(e.offset()) +
                                     ": " + e.what()};
        } catch (const flv::RenderError& e) {
            return {IoFailure, "flvtool2: " + input + ": " + e.what() + "; nothing was written"};
        } catch (const std::system_error& e) {
            // The message names the file itself.
            return {IoFailure, std::string("flvtool2: ") + e.what()};
        } catch (const std::bad_alloc&) {
            return {IoFailure, "flvtool2: " + input + ": out of memory"};
        } catch (const std::exception& e) {
            return {IoFailure, "flvtool2: " + input + ": " + e.what()};
        } catch (...) {
            return {IoFailure, "flvtool2: " + input + ": an unexpected failure"};
        }
    } catch (...) {
        // Putting the message together found no memory.
        return {IoFailure, "flvtool2: out of memory"};
    }
}

} // namespace quillora::flvtool2
