#include "flv/AmfWriter.h"

#include "flv/Bytes.h"

namespace quillora::flv {

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
    case AmfType::Undefined:
        marker(v.type());
        break;
    }
}

void AmfWriter::number(double v)
{
    marker(AmfType::Number);
    appendDoubleBE(m_out, v);
}

void AmfWriter::boolean(bool v)
{
    marker(AmfType::Boolean);
    appendUInt8(m_out, v ? 1 : 0);
}

void AmfWriter::string(std::string_view v)
{
    // Past 65,535 bytes only the long string has room for the length (AMF0, section 2.14).
    if (v.size() <= 0xffff) {
        marker(AmfType::String);
        appendUInt16BE(m_out, static_cast<unsigned>(v.size()));
    } else if (v.size() <= 0xffffffff) {
        marker(AmfType::LongString);
        appendUInt32BE(m_out, static_cast<std::uint32_t>(v.size()));
    } else {
        throw RenderError("AMF string of " + std::to_string(v.size()) + " bytes is too long");
    }
    m_out += v;
}

void AmfWriter::date(double milliseconds, std::int16_t timezone)
{
    marker(AmfType::Date);
    appendDoubleBE(m_out, milliseconds);
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
    marker(AmfType::Object);
}

void AmfWriter::beginEcmaArray(std::uint64_t count)
{
    counted(AmfType::EcmaArray, count, "ECMA array");
}

void AmfWriter::endObject()
{
    appendUInt16BE(m_out, 0);
    appendUInt8(m_out, amfObjectEnd);
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
    this->marker(marker);
    appendUInt32BE(m_out, static_cast<std::uint32_t>(count));
}

void AmfWriter::marker(AmfType type)
{
    appendUInt8(m_out, static_cast<unsigned>(type));
}

void renderAmf(const AmfValue& value, std::string& out)
{
    AmfWriter(out).value(value);
}

} // namespace quillora::flv
