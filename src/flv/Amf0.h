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

struct AmfValue
{
    AmfType type = AmfType::Null;
    double number = 0; // Number, and Date in milliseconds since 1970
    bool boolean = false;
    std::string string;
    std::vector<std::pair<std::string, AmfValue>> properties; // Object, EcmaArray
    std::vector<AmfValue> elements;                           // StrictArray
    std::int16_t timezone = 0;                                // Date

    static AmfValue makeNumber(double v);
    static AmfValue makeBoolean(bool v);
    static AmfValue makeString(std::string v);
    static AmfValue makeDate(double milliseconds);
    static AmfValue makeEcmaArray(std::vector<std::pair<std::string, AmfValue>> properties);
    static AmfValue makeObject(std::vector<std::pair<std::string, AmfValue>> properties);
    static AmfValue makeStrictArray(std::vector<AmfValue> elements);

    const AmfValue* find(const std::string& key) const;
};

// Parses one value; `offset` advances past it. Throws FormatError with the offset within
// `data` where the value stops making sense.
AmfValue parseAmf(std::span<const std::uint8_t> data, std::size_t& offset);

void renderAmf(const AmfValue& value, std::string& out);

// The value as one line of text, for printing.
std::string describeAmf(const AmfValue& value);

} // namespace quillora::flv
