#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quillora::flv {

// AMF0 type markers (AMF0 specification, section 2.1).
enum class AmfType : std::uint8_t {
    Number = 0x00,
    Boolean = 0x01,
    String = 0x02,
    Object = 0x03,
    Null = 0x05,
    Undefined = 0x06,
    EcmaArray = 0x08,
    StrictArray = 0x0a,
    Date = 0x0b,
    LongString = 0x0c,
};

struct AmfProperty;
using AmfProperties = std::vector<AmfProperty>;

// One AMF0 value in sixteen bytes: a number or a flag in place, a text or the children of an
// array behind one pointer. A file full of small values then costs a small multiple of its own
// size, never a multiple of a count it claims. Parsed long strings are Strings: the marker is a
// matter of length, chosen again when the value is written.
class AmfValue
{
public:
    AmfValue() noexcept : m_number(0) {} // Null
    AmfValue(const AmfValue& other);
    AmfValue(AmfValue&& other) noexcept;
    AmfValue& operator=(const AmfValue& other);
    AmfValue& operator=(AmfValue&& other) noexcept;
    ~AmfValue();

    static AmfValue makeNull() { return {}; }
    static AmfValue makeUndefined();
    static AmfValue makeNumber(double v);
    static AmfValue makeBoolean(bool v);
    static AmfValue makeString(std::string v);
    static AmfValue makeDate(double milliseconds, std::int16_t timezone = 0);
    static AmfValue makeEcmaArray(AmfProperties properties);
    static AmfValue makeObject(AmfProperties properties);
    static AmfValue makeStrictArray(std::vector<AmfValue> elements);

    AmfType type() const { return m_type; }
    // Number, and Date in milliseconds since 1970; 0 for any other type.
    double number() const;
    bool boolean() const { return m_type == AmfType::Boolean && m_boolean; }
    std::int16_t timezone() const { return m_timezone; }
    // Empty for a value of another type.
    const std::string& string() const;
    const AmfProperties& properties() const;       // Object, EcmaArray
    const std::vector<AmfValue>& elements() const; // StrictArray

    const AmfValue* find(std::string_view key) const;

private:
    void release() noexcept;

    AmfType m_type = AmfType::Null;
    std::int16_t m_timezone = 0;
    union {
        double m_number;
        bool m_boolean;
        std::string* m_string;
        AmfProperties* m_properties;
        std::vector<AmfValue>* m_elements;
    };
};

// One named value of an Object or ECMA array, in file order.
struct AmfProperty
{
    AmfProperty(std::string k, AmfValue v) : key(std::move(k)), value(std::move(v)) {}
    std::string key;
    AmfValue value;
};

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

// Renders AMF0 onto the end of a string, value by value or piece by piece for values too large to
// hold whole. Lengths the format cannot hold are refused with RenderError, before their bytes.
class AmfWriter
{
public:
    explicit AmfWriter(std::string& out) : m_out(out) {}

    void value(const AmfValue& v);
    void number(double v);
    void boolean(bool v);
    void string(std::string_view v);
    void date(double milliseconds, std::int16_t timezone);
    // An Object's or ECMA array's property name, before its value.
    void key(std::string_view k);
    void beginObject();
    void beginEcmaArray(std::uint64_t count);
    void endObject();
    void beginStrictArray(std::uint64_t count);
    // Values already encoded, as a file held them.
    void encoded(std::string_view bytes) { m_out += bytes; }

private:
    // A marker and the 32-bit length of what follows.
    void counted(AmfType marker, std::uint64_t count, const char* what);

    std::string& m_out;
};

void renderAmf(const AmfValue& value, std::string& out);

} // namespace quillora::flv
