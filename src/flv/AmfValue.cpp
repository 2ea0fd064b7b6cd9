#include "flv/AmfValue.h"

#include <algorithm>

namespace quillora::flv {

static_assert(sizeof(AmfValue) == 16, "a value is a type, a time zone and one word");

namespace {

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

} // namespace quillora::flv
