#include "flv/Amf0.h"

#include "flv/Bytes.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <ostream>
#include <sstream>

namespace quillora::flv {

static_assert(sizeof(AmfValue) == 16, "a value is a type, a time zone and one word");

namespace {

// How often a long check reports its progress.
constexpr std::size_t progressStep = 1u << 20;
// ECMAScript time values reach 100,000,000 days either side of 1970 (ECMA-262, Time Values and
// Time Range); AMF0 dates are those (AMF0 specification, section 2.13).
constexpr double maxDateMilliseconds = 8.64e15;

std::string describeNumber(double v)
{
    std::ostringstream s;
    s.precision(15);
    s << v;
    return s.str();
}

// Reads AMF0 values with a bounds check before every read; one set of checks for building,
// checking and describing a value.
class Reader
{
public:
    Reader(std::span<const std::uint8_t> data, std::size_t& offset,
           const AmfProgress* progress = nullptr)
        : m_data(data), m_offset(offset), m_progress(progress)
    {}

    AmfValue value(int depth)
    {
        switch (marker(depth)) {
        case AmfType::Number:
            return AmfValue::makeNumber(number());
        case AmfType::Boolean:
            return AmfValue::makeBoolean(byte() != 0);
        case AmfType::String:
            return AmfValue::makeString(std::string(shortString()));
        case AmfType::LongString:
            return AmfValue::makeString(std::string(longString()));
        case AmfType::Object:
            return AmfValue::makeObject(properties(depth));
        case AmfType::EcmaArray:
            skipBytes(4); // the count is advisory; the end marker ends the array
            return AmfValue::makeEcmaArray(properties(depth));
        case AmfType::StrictArray: {
            // No room is reserved from the count: the file may claim more than it holds.
            std::vector<AmfValue> elements;
            for (std::uint32_t i = 0, n = count(); i < n; ++i)
                elements.push_back(value(depth + 1));
            return AmfValue::makeStrictArray(std::move(elements));
        }
        case AmfType::Date: {
            const double milliseconds = number();
            return AmfValue::makeDate(milliseconds, static_cast<std::int16_t>(uint16()));
        }
        case AmfType::Null:
            return AmfValue::makeNull();
        case AmfType::Undefined:
            return AmfValue::makeUndefined();
        }
        return {};
    }

    void skip(int depth)
    {
        switch (marker(depth)) {
        case AmfType::Number:
            skipBytes(8);
            break;
        case AmfType::Boolean:
            skipBytes(1);
            break;
        case AmfType::String:
            shortString();
            break;
        case AmfType::LongString:
            longString();
            break;
        case AmfType::EcmaArray:
            skipBytes(4);
            [[fallthrough]];
        case AmfType::Object:
            while (!endOfProperties())
                skip(depth + 1);
            break;
        case AmfType::StrictArray:
            for (std::uint32_t i = 0, n = count(); i < n; ++i)
                skip(depth + 1);
            break;
        case AmfType::Date:
            skipBytes(10);
            break;
        case AmfType::Null:
        case AmfType::Undefined:
            break;
        }
    }

    void describe(int depth, std::ostream& out)
    {
        switch (marker(depth)) {
        case AmfType::Number:
            out << describeNumber(number());
            break;
        case AmfType::Boolean:
            out << (byte() != 0 ? "true" : "false");
            break;
        case AmfType::String:
            out << shortString();
            break;
        case AmfType::LongString:
            out << longString();
            break;
        case AmfType::EcmaArray:
            skipBytes(4);
            [[fallthrough]];
        case AmfType::Object: {
            out << '{';
            bool first = true;
            for (std::string_view k; !endOfProperties(&k); first = false) {
                out << (first ? "" : ", ") << k << ": ";
                describe(depth + 1, out);
            }
            out << '}';
            break;
        }
        case AmfType::StrictArray: {
            const std::uint32_t n = count();
            for (std::uint32_t i = 0; i < n; ++i)
                skip(depth + 1);
            out << '[' << n << " entries]";
            break;
        }
        case AmfType::Date:
            out << describeDate(number());
            skipBytes(2);
            break;
        case AmfType::Null:
            out << "null";
            break;
        case AmfType::Undefined:
            out << "undefined";
            break;
        }
    }

    bool eachProperty(const AmfPropertyReader& property)
    {
        const std::size_t start = m_offset;
        const auto type = static_cast<AmfType>(byte());
        if (type != AmfType::Object && type != AmfType::EcmaArray) {
            m_offset = start;
            return false;
        }
        if (type == AmfType::EcmaArray)
            skipBytes(4);
        for (std::string_view k; !endOfProperties(&k);)
            property(k, m_offset);
        return true;
    }

    std::optional<std::string_view> stringIfAny()
    {
        const std::size_t start = m_offset;
        try {
            const auto type = static_cast<AmfType>(byte());
            if (type == AmfType::String)
                return shortString();
            if (type == AmfType::LongString)
                return longString();
        } catch (const FormatError&) {
        }
        m_offset = start;
        return std::nullopt;
    }

private:
    [[noreturn]] void fail(const std::string& problem) { throw FormatError(m_offset, problem); }

    void need(std::size_t n)
    {
        if (m_data.size() - m_offset < n)
            fail("AMF value runs past the end of its tag");
        if (m_progress && m_offset >= m_nextReport) {
            (*m_progress)(m_offset);
            m_nextReport = m_offset + progressStep;
        }
    }

    AmfType marker(int depth)
    {
        if (depth > maxAmfDepth)
            fail("AMF values nested too deeply");
        const std::uint8_t m = byte();
        switch (static_cast<AmfType>(m)) {
        case AmfType::Number:
        case AmfType::Boolean:
        case AmfType::String:
        case AmfType::Object:
        case AmfType::Null:
        case AmfType::Undefined:
        case AmfType::EcmaArray:
        case AmfType::StrictArray:
        case AmfType::Date:
        case AmfType::LongString:
            return static_cast<AmfType>(m);
        }
        --m_offset;
        fail("unsupported AMF type " + std::to_string(m));
    }

    std::uint8_t byte()
    {
        need(1);
        return m_data[m_offset++];
    }

    std::uint16_t uint16()
    {
        need(2);
        const std::uint16_t v = toUInt16BE(&m_data[m_offset]);
        m_offset += 2;
        return v;
    }

    std::uint32_t uint32()
    {
        need(4);
        const std::uint32_t v = toUInt32BE(&m_data[m_offset]);
        m_offset += 4;
        return v;
    }

    // A strict array's length: every element takes at least one byte.
    std::uint32_t count()
    {
        const std::uint32_t n = uint32();
        if (n > m_data.size() - m_offset)
            fail("AMF strict array longer than its data");
        return n;
    }

    void skipBytes(std::size_t n)
    {
        need(n);
        m_offset += n;
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

    std::string_view bytes(std::size_t length)
    {
        need(length);
        const std::string_view s(reinterpret_cast<const char*>(&m_data[m_offset]), length);
        m_offset += length;
        return s;
    }

    std::string_view shortString() { return bytes(uint16()); }
    std::string_view longString() { return bytes(uint32()); }

    // Reads the next property name into `key`; true, with the name consumed, when it is instead
    // the empty name and object-end marker 0x09 that close the list (AMF0 specification, 2.5).
    bool endOfProperties(std::string_view* key = nullptr)
    {
        const std::string_view k = shortString();
        need(1);
        if (k.empty() && m_data[m_offset] == 0x09) {
            ++m_offset;
            return true;
        }
        if (key)
            *key = k;
        return false;
    }

    AmfProperties properties(int depth)
    {
        AmfProperties result;
        for (std::string_view k; !endOfProperties(&k);) {
            std::string name(k);
            result.emplace_back(std::move(name), value(depth + 1));
        }
        return result;
    }

    std::span<const std::uint8_t> m_data;
    std::size_t& m_offset;
    const AmfProgress* m_progress;
    std::size_t m_nextReport = 0;
};

const std::string emptyString;
const AmfProperties noProperties;
const std::vector<AmfValue> noElements;

} // namespace

AmfValue::AmfValue(const AmfValue& other)
    : m_type(other.m_type), m_timezone(other.m_timezone), m_number(other.m_number)
{
    switch (m_type) {
    case AmfType::String:
        m_string = new std::string(*other.m_string);
        break;
    case AmfType::Object:
    case AmfType::EcmaArray:
        m_properties = new AmfProperties(*other.m_properties);
        break;
    case AmfType::StrictArray:
        m_elements = new std::vector<AmfValue>(*other.m_elements);
        break;
    default:
        break;
    }
}

AmfValue::AmfValue(AmfValue&& other) noexcept
    : m_type(other.m_type), m_timezone(other.m_timezone), m_number(other.m_number)
{
    other.m_type = AmfType::Null;
}

AmfValue& AmfValue::operator=(const AmfValue& other)
{
    if (this != &other)
        *this = AmfValue(other);
    return *this;
}

AmfValue& AmfValue::operator=(AmfValue&& other) noexcept
{
    if (this != &other) {
        release();
        m_type = other.m_type;
        m_timezone = other.m_timezone;
        m_number = other.m_number;
        other.m_type = AmfType::Null;
    }
    return *this;
}

AmfValue::~AmfValue()
{
    release();
}

void AmfValue::release() noexcept
{
    switch (m_type) {
    case AmfType::String:
        delete m_string;
        break;
    case AmfType::Object:
    case AmfType::EcmaArray:
        delete m_properties;
        break;
    case AmfType::StrictArray:
        delete m_elements;
        break;
    default:
        break;
    }
    m_type = AmfType::Null;
}

AmfValue AmfValue::makeUndefined()
{
    AmfValue a;
    a.m_type = AmfType::Undefined;
    return a;
}
AmfValue AmfValue::makeNumber(double v)
{
    AmfValue a;
    a.m_type = AmfType::Number;
    a.m_number = v;
    return a;
}
AmfValue AmfValue::makeBoolean(bool v)
{
    AmfValue a;
    a.m_type = AmfType::Boolean;
    a.m_boolean = v;
    return a;
}
AmfValue AmfValue::makeString(std::string v)
{
    AmfValue a;
    a.m_string = new std::string(std::move(v));
    a.m_type = AmfType::String;
    return a;
}
AmfValue AmfValue::makeDate(double milliseconds, std::int16_t timezone)
{
    AmfValue a;
    a.m_type = AmfType::Date;
    a.m_number = milliseconds;
    a.m_timezone = timezone;
    return a;
}
AmfValue AmfValue::makeEcmaArray(AmfProperties properties)
{
    AmfValue a;
    a.m_properties = new AmfProperties(std::move(properties));
    a.m_type = AmfType::EcmaArray;
    return a;
}
AmfValue AmfValue::makeObject(AmfProperties properties)
{
    AmfValue a = makeEcmaArray(std::move(properties));
    a.m_type = AmfType::Object;
    return a;
}
AmfValue AmfValue::makeStrictArray(std::vector<AmfValue> elements)
{
    AmfValue a;
    a.m_elements = new std::vector<AmfValue>(std::move(elements));
    a.m_type = AmfType::StrictArray;
    return a;
}

double AmfValue::number() const
{
    return m_type == AmfType::Number || m_type == AmfType::Date ? m_number : 0;
}

const std::string& AmfValue::string() const
{
    return m_type == AmfType::String ? *m_string : emptyString;
}

const AmfProperties& AmfValue::properties() const
{
    return m_type == AmfType::Object || m_type == AmfType::EcmaArray ? *m_properties : noProperties;
}

const std::vector<AmfValue>& AmfValue::elements() const
{
    return m_type == AmfType::StrictArray ? *m_elements : noElements;
}

const AmfValue* AmfValue::find(std::string_view key) const
{
    for (const auto& [k, v] : properties())
        if (k == key)
            return &v;
    return nullptr;
}

AmfValue parseAmf(std::span<const std::uint8_t> data, std::size_t& offset)
{
    return Reader(data, offset).value(0);
}

void skipAmf(std::span<const std::uint8_t> data, std::size_t& offset, const AmfProgress& progress,
             int depth)
{
    Reader(data, offset, progress ? &progress : nullptr).skip(depth);
}

std::optional<std::string_view> parseAmfString(std::span<const std::uint8_t> data,
                                               std::size_t& offset)
{
    return Reader(data, offset).stringIfAny();
}

bool readAmfProperties(std::span<const std::uint8_t> data, std::size_t& offset,
                       const AmfPropertyReader& property)
{
    return Reader(data, offset).eachProperty(property);
}

void describeAmf(std::span<const std::uint8_t> data, std::size_t& offset, std::ostream& out)
{
    Reader(data, offset).describe(0, out);
}

namespace {
struct CivilDate
{
    std::int64_t year;
    unsigned month;
    unsigned day;
};

// The proleptic Gregorian date `days` after 1970-01-01, for any day an AMF date may name: the
// system's calendar functions stop at the range of time_t or of an int year, and not every
// system has them in the same form.
CivilDate civilFromDays(std::int64_t days)
{
    // Counted from 0000-03-01 in eras of 400 years, so that a leap day ends each year.
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const auto dayOfEra = static_cast<unsigned>(days - era * 146097);
    const unsigned yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned shiftedMonth = (5 * dayOfYear + 2) / 153;
    const unsigned day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
    const unsigned month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
    return {static_cast<std::int64_t>(yearOfEra) + era * 400 + (month <= 2 ? 1 : 0), month, day};
}
} // namespace

std::string describeDate(double milliseconds)
{
    // Past the range an integer conversion would be undefined.
    if (!(std::fabs(milliseconds) <= maxDateMilliseconds))
        return "invalid date";
    const auto seconds = static_cast<std::int64_t>(std::floor(milliseconds / 1000));
    const std::int64_t days = (seconds >= 0 ? seconds : seconds - 86399) / 86400;
    const auto time = static_cast<unsigned>(seconds - days * 86400);
    const CivilDate date = civilFromDays(days);
    char text[48];
    std::snprintf(text, sizeof text, "%lld-%02u-%02uT%02u:%02u:%02uZ",
                  static_cast<long long>(date.year), date.month, date.day, time / 3600,
                  time / 60 % 60, time % 60);
    return text;
}

void AmfWriter::value(const AmfValue& v)
{
    switch (v.type()) {
    case AmfType::Number:
        number(v.number());
        break;
    case AmfType::Boolean:
        boolean(v.boolean());
        break;
    case AmfType::String:
    case AmfType::LongString:
        string(v.string());
        break;
    case AmfType::Object:
    case AmfType::EcmaArray:
        if (v.type() == AmfType::Object)
            beginObject();
        else
            beginEcmaArray(v.properties().size());
        for (const auto& [k, child] : v.properties()) {
            key(k);
            value(child);
        }
        endObject();
        break;
    case AmfType::StrictArray:
        beginStrictArray(v.elements().size());
        for (const AmfValue& e : v.elements())
            value(e);
        break;
    case AmfType::Date:
        date(v.number(), v.timezone());
        break;
    case AmfType::Null:
        appendUInt8(m_out, 0x05);
        break;
    case AmfType::Undefined:
        appendUInt8(m_out, 0x06);
        break;
    }
}

void AmfWriter::number(double v)
{
    appendUInt8(m_out, 0x00);
    const auto bits = std::bit_cast<std::uint64_t>(v);
    appendUInt32BE(m_out, static_cast<std::uint32_t>(bits >> 32));
    appendUInt32BE(m_out, static_cast<std::uint32_t>(bits));
}

void AmfWriter::boolean(bool v)
{
    appendUInt8(m_out, 0x01);
    appendUInt8(m_out, v ? 1 : 0);
}

void AmfWriter::string(std::string_view v)
{
    // Past 65,535 bytes only the long string has room for the length (AMF0, section 2.14).
    if (v.size() <= 0xffff) {
        appendUInt8(m_out, 0x02);
        appendUInt16BE(m_out, static_cast<unsigned>(v.size()));
    } else if (v.size() <= 0xffffffff) {
        appendUInt8(m_out, 0x0c);
        appendUInt32BE(m_out, static_cast<std::uint32_t>(v.size()));
    } else {
        throw RenderError("AMF string of " + std::to_string(v.size()) + " bytes is too long");
    }
    m_out += v;
}

void AmfWriter::date(double milliseconds, std::int16_t timezone)
{
    const auto bits = std::bit_cast<std::uint64_t>(milliseconds);
    appendUInt8(m_out, 0x0b);
    appendUInt32BE(m_out, static_cast<std::uint32_t>(bits >> 32));
    appendUInt32BE(m_out, static_cast<std::uint32_t>(bits));
    appendUInt16BE(m_out, static_cast<std::uint16_t>(timezone));
}

void AmfWriter::key(std::string_view k)
{
    // A property name has a 16-bit length and no long form (AMF0 specification, 2.5).
    if (k.size() > 0xffff)
        throw RenderError("AMF property name of " + std::to_string(k.size()) +
                          " bytes is longer than 65535");
    appendUInt16BE(m_out, static_cast<unsigned>(k.size()));
    m_out += k;
}

void AmfWriter::beginObject()
{
    appendUInt8(m_out, 0x03);
}

void AmfWriter::beginEcmaArray(std::uint64_t count)
{
    counted(AmfType::EcmaArray, count, "ECMA array");
}

void AmfWriter::endObject()
{
    appendUInt16BE(m_out, 0);
    appendUInt8(m_out, 0x09);
}

void AmfWriter::beginStrictArray(std::uint64_t count)
{
    counted(AmfType::StrictArray, count, "strict array");
}

void AmfWriter::counted(AmfType marker, std::uint64_t count, const char* what)
{
    // Array lengths are 32 bits (AMF0 specification, 2.10 and 2.12).
    if (count > 0xffffffff)
        throw RenderError(std::string(what) + " of " + std::to_string(count) +
                          " entries is too long");
    appendUInt8(m_out, static_cast<unsigned>(marker));
    appendUInt32BE(m_out, static_cast<std::uint32_t>(count));
}

void renderAmf(const AmfValue& value, std::string& out)
{
    AmfWriter(out).value(value);
}

} // namespace quillora::flv
