#include "flv/Amf0.h"

#include "flv/Bytes.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <ctime>
#include <sstream>

namespace quillora::flv {

namespace {

// Deeper nesting than any real metadata; a bound keeps hostile files from exhausting the stack.
constexpr int maxDepth = 64;

class Parser
{
public:
    explicit Parser(std::span<const std::uint8_t> data, std::size_t& offset)
        : m_data(data), m_offset(offset)
    {}

    AmfValue value(int depth)
    {
        if (depth > maxDepth)
            fail("AMF values nested too deeply");
        need(1);
        const auto marker = static_cast<AmfType>(m_data[m_offset++]);
        AmfValue v;
        v.type = marker;
        switch (marker) {
        case AmfType::Number:
            v.number = number();
            break;
        case AmfType::Boolean:
            need(1);
            v.boolean = m_data[m_offset++] != 0;
            break;
        case AmfType::String:
            v.string = shortString();
            break;
        case AmfType::LongString:
            v.type = AmfType::String;
            v.string = longString();
            break;
        case AmfType::Object:
            v.properties = properties(depth);
            break;
        case AmfType::EcmaArray:
            need(4);
            m_offset += 4; // the count is advisory; the end marker ends the array
            v.properties = properties(depth);
            break;
        case AmfType::StrictArray: {
            need(4);
            const std::uint32_t count = toUInt32BE(&m_data[m_offset]);
            m_offset += 4;
            // Every element takes at least one byte.
            if (count > m_data.size() - m_offset)
                fail("AMF strict array longer than its data");
            v.elements.reserve(count);
            for (std::uint32_t i = 0; i < count; ++i)
                v.elements.push_back(value(depth + 1));
            break;
        }
        case AmfType::Date:
            v.number = number();
            need(2);
            v.timezone = static_cast<std::int16_t>(toUInt16BE(&m_data[m_offset]));
            m_offset += 2;
            break;
        case AmfType::Null:
        case AmfType::Undefined:
            break;
        default:
            --m_offset;
            fail("unsupported AMF type " + std::to_string(static_cast<int>(marker)));
        }
        return v;
    }

private:
    [[noreturn]] void fail(const std::string& problem) { throw FormatError(m_offset, problem); }

    void need(std::size_t count)
    {
        if (m_data.size() - m_offset < count)
            fail("AMF value runs past the end of its tag");
    }

    double number()
    {
        need(8);
        std::uint64_t bits = 0;
        for (int i = 0; i < 8; ++i)
            bits = (bits << 8) | m_data[m_offset + i];
        m_offset += 8;
        return std::bit_cast<double>(bits);
    }

    std::string bytes(std::size_t length)
    {
        need(length);
        std::string s(reinterpret_cast<const char*>(&m_data[m_offset]), length);
        m_offset += length;
        return s;
    }

    std::string shortString()
    {
        need(2);
        const std::uint16_t length = toUInt16BE(&m_data[m_offset]);
        m_offset += 2;
        return bytes(length);
    }

    std::string longString()
    {
        need(4);
        const std::uint32_t length = toUInt32BE(&m_data[m_offset]);
        m_offset += 4;
        return bytes(length);
    }

    AmfProperties properties(int depth)
    {
        AmfProperties result;
        for (;;) {
            std::string key = shortString();
            need(1);
            // An empty key followed by the object-end marker 0x09 closes the list.
            if (key.empty() && m_data[m_offset] == 0x09) {
                ++m_offset;
                return result;
            }
            AmfValue v = value(depth + 1);
            result.emplace_back(std::move(key), std::move(v));
        }
    }

    std::span<const std::uint8_t> m_data;
    std::size_t& m_offset;
};

void renderNumber(double v, std::string& out)
{
    const auto bits = std::bit_cast<std::uint64_t>(v);
    for (int shift = 56; shift >= 0; shift -= 8)
        appendUInt8(out, static_cast<unsigned>(bits >> shift));
}

void renderKey(const std::string& key, std::string& out)
{
    appendUInt16BE(out, static_cast<unsigned>(key.size()));
    out += key;
}

void renderProperties(const AmfProperties& properties, std::string& out)
{
    for (const auto& [key, value] : properties) {
        renderKey(key, out);
        renderAmf(value, out);
    }
    appendUInt16BE(out, 0);
    appendUInt8(out, 0x09);
}

std::string formatNumber(double v)
{
    std::ostringstream s;
    s.precision(15);
    s << v;
    return s.str();
}

} // namespace

AmfValue AmfValue::makeNumber(double v)
{
    AmfValue a;
    a.type = AmfType::Number;
    a.number = v;
    return a;
}
AmfValue AmfValue::makeBoolean(bool v)
{
    AmfValue a;
    a.type = AmfType::Boolean;
    a.boolean = v;
    return a;
}
AmfValue AmfValue::makeString(std::string v)
{
    AmfValue a;
    a.type = AmfType::String;
    a.string = std::move(v);
    return a;
}
AmfValue AmfValue::makeDate(double milliseconds)
{
    AmfValue a;
    a.type = AmfType::Date;
    a.number = milliseconds;
    return a;
}
AmfValue AmfValue::makeEcmaArray(AmfProperties properties)
{
    AmfValue a;
    a.type = AmfType::EcmaArray;
    a.properties = std::move(properties);
    return a;
}
AmfValue AmfValue::makeObject(AmfProperties properties)
{
    AmfValue a = makeEcmaArray(std::move(properties));
    a.type = AmfType::Object;
    return a;
}
AmfValue AmfValue::makeStrictArray(std::vector<AmfValue> elements)
{
    AmfValue a;
    a.type = AmfType::StrictArray;
    a.elements = std::move(elements);
    return a;
}

const AmfValue* AmfValue::find(const std::string& key) const
{
    for (const auto& [k, v] : properties)
        if (k == key)
            return &v;
    return nullptr;
}

AmfValue parseAmf(std::span<const std::uint8_t> data, std::size_t& offset)
{
    Parser parser(data, offset);
    return parser.value(0);
}

void renderAmf(const AmfValue& value, std::string& out)
{
    switch (value.type) {
    case AmfType::Number:
        appendUInt8(out, 0x00);
        renderNumber(value.number, out);
        break;
    case AmfType::Boolean:
        appendUInt8(out, 0x01);
        appendUInt8(out, value.boolean ? 1 : 0);
        break;
    case AmfType::String:
    case AmfType::LongString:
        if (value.string.size() > 0xffff) {
            appendUInt8(out, 0x0c);
            appendUInt32BE(out, static_cast<std::uint32_t>(value.string.size()));
            out += value.string;
        } else {
            appendUInt8(out, 0x02);
            renderKey(value.string, out);
        }
        break;
    case AmfType::Object:
        appendUInt8(out, 0x03);
        renderProperties(value.properties, out);
        break;
    case AmfType::EcmaArray:
        appendUInt8(out, 0x08);
        appendUInt32BE(out, static_cast<std::uint32_t>(value.properties.size()));
        renderProperties(value.properties, out);
        break;
    case AmfType::StrictArray:
        appendUInt8(out, 0x0a);
        appendUInt32BE(out, static_cast<std::uint32_t>(value.elements.size()));
        for (const AmfValue& e : value.elements)
            renderAmf(e, out);
        break;
    case AmfType::Date:
        appendUInt8(out, 0x0b);
        renderNumber(value.number, out);
        appendUInt16BE(out, static_cast<std::uint16_t>(value.timezone));
        break;
    case AmfType::Null:
        appendUInt8(out, 0x05);
        break;
    case AmfType::Undefined:
        appendUInt8(out, 0x06);
        break;
    }
}

std::string describeAmf(const AmfValue& value)
{
    // Texts are appended piece by piece: chains of operator+ on temporaries trip a false
    // -Wrestrict in GCC 12 at -O3.
    switch (value.type) {
    case AmfType::Number:
        return formatNumber(value.number);
    case AmfType::Boolean:
        return value.boolean ? "true" : "false";
    case AmfType::String:
    case AmfType::LongString:
        return value.string;
    case AmfType::Date: {
        const std::time_t seconds = static_cast<std::time_t>(value.number / 1000);
        std::tm utc{};
        gmtime_r(&seconds, &utc);
        char text[32];
        std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
        return text;
    }
    case AmfType::StrictArray: {
        std::string s = "[";
        s += std::to_string(value.elements.size());
        s += " entries]";
        return s;
    }
    case AmfType::Object:
    case AmfType::EcmaArray: {
        std::string s = "{";
        for (const auto& [k, v] : value.properties) {
            if (s.size() > 1)
                s += ", ";
            s += k;
            s += ": ";
            s += describeAmf(v);
        }
        s += '}';
        return s;
    }
    case AmfType::Null:
        return "null";
    case AmfType::Undefined:
        return "undefined";
    }
    return {};
}

} // namespace quillora::flv
