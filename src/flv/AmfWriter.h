#pragma once

#include "flv/AmfValue.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace quillora::flv {

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
    void marker(AmfType type);
    // A marker and the 32-bit length of what follows.
    void counted(AmfType marker, std::uint64_t count, const char* what);

    std::string& m_out;
};

void renderAmf(const AmfValue& value, std::string& out);

} // namespace quillora::flv
