#pragma once

#include <cstdint>
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
// After an empty property name, the end of an Object's or ECMA array's properties.
constexpr std::uint8_t amfObjectEnd = 0x09;

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

} // namespace quillora::flv
