#include "flv/AmfReader.h"

#include "flv/Bytes.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <ostream>
#include <sstream>

namespace quillora::flv {

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

// Reads AMF0 values with a bounds check before every read. walk() is the one reading of the
// grammar; what a caller makes of a value (builds it, checks it, describes it) is its visitor's.
class Reader
{
public:
    Reader(std::span<const std::uint8_t> data, std::size_t& offset,
           const AmfProgress* progress = nullptr)
        : m_data(data), m_offset(offset), m_progress(progress)
    {}

    // Reads one value at `depth`, telling `visitor` of each part as it is read.
    template <class Visitor> void walk(int depth, Visitor& visitor)
    {
        switch (const AmfType type = marker(depth)) {
        case AmfType::Number:
            visitor.number(number());
            break;
        case AmfType::Boolean:
            visitor.boolean(byte() != 0);
            break;
        case AmfType::String:
            visitor.string(shortString());
            break;
        case AmfType::LongString:
            visitor.string(longString());
            break;
        case AmfType::EcmaArray:
            skipBytes(4); // the count is advisory; the end marker ends the array
            [[fallthrough]];
        case AmfType::Object:
            visitor.beginProperties(type);
            for (std::string_view k; !endOfProperties(&k);) {
                visitor.key(k);
                walk(depth + 1, visitor);
            }
            visitor.endProperties();
            break;
        case AmfType::StrictArray: {
            const std::uint32_t n = count();
            visitor.beginElements(n);
            for (std::uint32_t i = 0; i < n; ++i)
                walk(depth + 1, visitor);
            visitor.endElements();
            break;
        }
        case AmfType::Date: {
            const double milliseconds = number();
            visitor.date(milliseconds, static_cast<std::int16_t>(uint16()));
            break;
        }
        case AmfType::Null:
        case AmfType::Undefined:
            visitor.empty(type);
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
        const double v = toDoubleBE(&m_data[m_offset]);
        m_offset += 8;
        return v;
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
        if (k.empty() && m_data[m_offset] == amfObjectEnd) {
            ++m_offset;
            return true;
        }
        if (key)
            *key = k;
        return false;
    }

    std::span<const std::uint8_t> m_data;
    std::size_t& m_offset;
    const AmfProgress* m_progress;
    std::size_t m_nextReport = 0;
};

// Hears nothing: the walk's own checks are the check.
struct Skip
{
    void number(double) {}
    void boolean(bool) {}
    void string(std::string_view) {}
    void date(double, std::int16_t) {}
    void empty(AmfType) {}
    void beginProperties(AmfType) {}
    void key(std::string_view) {}
    void endProperties() {}
    void beginElements(std::uint32_t) {}
    void endElements() {}
};

// Builds the value. No room is reserved from a strict array's count: the file may claim more
// than it holds.
class Build
{
public:
    void number(double v) { add(AmfValue::makeNumber(v)); }
    void boolean(bool v) { add(AmfValue::makeBoolean(v)); }
    void string(std::string_view v) { add(AmfValue::makeString(std::string(v))); }
    void date(double milliseconds, std::int16_t timezone)
    {
        add(AmfValue::makeDate(milliseconds, timezone));
    }
    void empty(AmfType type)
    {
        add(type == AmfType::Null ? AmfValue::makeNull() : AmfValue::makeUndefined());
    }
    void beginProperties(AmfType type) { m_open.push_back({type, {}, {}, {}}); }
    void key(std::string_view k) { m_open.back().key = k; }
    void endProperties()
    {
        Open done = std::move(m_open.back());
        m_open.pop_back();
        add(done.type == AmfType::Object ? AmfValue::makeObject(std::move(done.properties))
                                         : AmfValue::makeEcmaArray(std::move(done.properties)));
    }
    void beginElements(std::uint32_t) { m_open.push_back({AmfType::StrictArray, {}, {}, {}}); }
    void endElements()
    {
        Open done = std::move(m_open.back());
        m_open.pop_back();
        add(AmfValue::makeStrictArray(std::move(done.elements)));
    }

    AmfValue take() { return std::move(m_value); }

private:
    // A container still being read, and the name of its next property.
    struct Open
    {
        AmfType type;
        AmfProperties properties;
        std::vector<AmfValue> elements;
        std::string key;
    };

    void add(AmfValue v)
    {
        if (m_open.empty())
            m_value = std::move(v);
        else if (m_open.back().type == AmfType::StrictArray)
            m_open.back().elements.push_back(std::move(v));
        else
            m_open.back().properties.emplace_back(std::move(m_open.back().key), std::move(v));
    }

    std::vector<Open> m_open;
    AmfValue m_value;
};

// Writes the value as one line of text; a strict array by its length, its elements unread
// but checked.
class Describe
{
public:
    explicit Describe(std::ostream& out) : m_out(out) {}

    void number(double v)
    {
        if (shown())
            m_out << describeNumber(v);
    }
    void boolean(bool v)
    {
        if (shown())
            m_out << (v ? "true" : "false");
    }
    void string(std::string_view v)
    {
        if (shown())
            m_out << v;
    }
    void date(double milliseconds, std::int16_t)
    {
        if (shown())
            m_out << describeDate(milliseconds);
    }
    void empty(AmfType type)
    {
        if (shown())
            m_out << (type == AmfType::Null ? "null" : "undefined");
    }
    void beginProperties(AmfType)
    {
        if (!shown())
            return;
        m_out << '{';
        m_first.push_back(true);
    }
    void key(std::string_view k)
    {
        if (!shown())
            return;
        m_out << (m_first.back() ? "" : ", ") << k << ": ";
        m_first.back() = false;
    }
    void endProperties()
    {
        if (!shown())
            return;
        m_out << '}';
        m_first.pop_back();
    }
    void beginElements(std::uint32_t n)
    {
        if (shown())
            m_out << '[' << n << " entries]";
        ++m_inArrays;
    }
    void endElements() { --m_inArrays; }

private:
    bool shown() const { return m_inArrays == 0; }

    std::ostream& m_out;
    std::vector<bool> m_first;
    int m_inArrays = 0;
};

} // namespace

AmfValue parseAmf(std::span<const std::uint8_t> data, std::size_t& offset)
{
    Build build;
    Reader(data, offset).walk(0, build);
    return build.take();
}

void skipAmf(std::span<const std::uint8_t> data, std::size_t& offset, const AmfProgress& progress,
             int depth)
{
    Skip skip;
    Reader(data, offset, progress ? &progress : nullptr).walk(depth, skip);
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
    Describe describe(out);
    Reader(data, offset).walk(0, describe);
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

} // namespace quillora::flv
