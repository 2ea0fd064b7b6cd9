#pragma once

#include "flv/AmfValue.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace quillora::flv {

// Parses one value; `offset` advances past it. Throws FormatError with the offset within
// `data` where the value stops making sense.
[[nodiscard]] AmfValue parseAmf(std::span<const std::uint8_t> data, std::size_t& offset);

// Values nested deeper than this are refused: deeper than any real metadata, and a bound keeps
// hostile files from exhausting the stack. A value at the top is at depth 0.
constexpr int maxAmfDepth = 64;

// Checks one value as parseAmf does, without building it; `offset` advances past it. `depth` is
// how deep the value will sit when it is read again inside another. A value may be as large as
// its tag, so `progress`, when given, hears now and then how far the check has come: a reader of
// a mapped file lets the pages behind it go.
using AmfProgress = std::function<void(std::size_t offset)>;
void skipAmf(std::span<const std::uint8_t> data, std::size_t& offset,
             const AmfProgress& progress = {}, int depth = 0);

// The text of the String (or long String) at `offset`, which then advances past it; nothing, and
// `offset` unchanged, when another type or no complete string is there.
[[nodiscard]] std::optional<std::string_view> parseAmfString(std::span<const std::uint8_t> data,
                                                             std::size_t& offset);

// Reads the Object or ECMA array at `offset` property by property: `property` hears each name
// with `offset` at its value, and moves `offset` past the value (with skipAmf, describeAmf or
// parseAmf). False, with `offset` unchanged, for a value of another type.
using AmfPropertyReader = std::function<void(std::string_view key, std::size_t& offset)>;
[[nodiscard]] bool readAmfProperties(std::span<const std::uint8_t> data, std::size_t& offset,
                                     const AmfPropertyReader& property);

// Writes the value at `offset` as one line of text as it reads it (strict arrays by their
// length); `offset` advances past it. Throws FormatError as parseAmf does.
void describeAmf(std::span<const std::uint8_t> data, std::size_t& offset, std::ostream& out);

// A date as text ("2024-05-01T12:00:00Z"), or "invalid date" outside the range of dates.
std::string describeDate(double milliseconds);

} // namespace quillora::flv
