#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <utility>
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

struct AmfValue
{
    // Defined below, where AmfProperty is complete: a value holds properties holding values.
    AmfValue();
    ~AmfValue();
    AmfValue(const AmfValue&);
    AmfValue(AmfValue&&) noexcept;
    AmfValue& operator=(const AmfValue&);
    AmfValue& operator=(AmfValue&&) noexcept;

    AmfType type = AmfType::Null;
    double number = 0; // Number, and Date in milliseconds since 1970
    bool boolean = false;
    std::string string;
    AmfProperties properties;       // Object, EcmaArray
    std::vector<AmfValue> elements; // StrictArray
    std::int16_t timezone = 0;      // Date

    static AmfValue makeNumber(double v);
    static AmfValue makeBoolean(bool v);
    static AmfValue makeString(std::string v);
    static AmfValue makeDate(double milliseconds);
    static AmfValue makeEcmaArray(AmfProperties properties);
    static AmfValue makeObject(AmfProperties properties);
    static AmfValue makeStrictArray(std::vector<AmfValue> elements);

    const AmfValue* find(const std::string& key) const;
};

// One named value of an Object or ECMA array, in file order.
struct AmfProperty
{
    AmfProperty(std::string k, AmfValue v) : key(std::move(k)), value(std::move(v)) {}
    std::string key;
    AmfValue value;
};

inline AmfValue::AmfValue() = default;
inline AmfValue::~AmfValue() = default;
inline AmfValue::AmfValue(const AmfValue&) = default;
inline AmfValue::AmfValue(AmfValue&&) noexcept = default;
inline AmfValue& AmfValue::operator=(const AmfValue&) = default;
inline AmfValue& AmfValue::operator=(AmfValue&&) noexcept = default;

// Parses one value; `offset` advances past it. Throws FormatError with the offset within
// `data` where the value stops making sense.
AmfValue parseAmf(std::span<const std::uint8_t> data, std::size_t& offset);

void renderAmf(const AmfValue& value, std::string& out);

// The value as one line of text, for printing.
std::string describeAmf(const AmfValue& value);

} // namespace quillora::flv
