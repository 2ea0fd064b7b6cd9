#pragma once

#include "flv/Amf0.h"

#include <bit>
#include <cstdint>

// Two values alike in type, contents and order; numbers by their bits, so that a NaN read back
// must be the NaN written.
inline bool sameAmf(const quillora::flv::AmfValue& a, const quillora::flv::AmfValue& b)
{
    if (a.type() != b.type() ||
        std::bit_cast<std::uint64_t>(a.number()) != std::bit_cast<std::uint64_t>(b.number()) ||
        a.boolean() != b.boolean() || a.string() != b.string() || a.timezone() != b.timezone() ||
        a.properties().size() != b.properties().size() ||
        a.elements().size() != b.elements().size())
        return false;
    for (std::size_t i = 0; i < a.properties().size(); ++i)
        if (a.properties()[i].key != b.properties()[i].key ||
            !sameAmf(a.properties()[i].value, b.properties()[i].value))
            return false;
    for (std::size_t i = 0; i < a.elements().size(); ++i)
        if (!sameAmf(a.elements()[i], b.elements()[i]))
            return false;
    return true;
}
