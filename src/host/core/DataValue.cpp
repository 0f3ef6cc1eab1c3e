#include <QLocale>
#include <cmath>
#include <limits>

#include <lmxmaps/host/DataValue.h>
#include <lmxmaps/host/Shapes.h>

namespace {
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
}

DataValue::DataValue() : m_value(SpecialValue{SpecialCode::Null, DataType::Unknown}) {}

DataValue::DataValue(Variant value) : m_value(std::move(value)) {}

DataValue DataValue::Real(double value) {
    return DataValue(value);
}

DataValue DataValue::String(const TString& value, Collation collation) {
    return DataValue(StringValue{value, collation});
}

DataValue DataValue::Spatial(std::shared_ptr<const lmxgeo::Spatial> value) {
    if (!value) {
        return Special(SpecialCode::Null, DataType::Spatial);
    }
    return DataValue(SpatialValue{std::move(value)});
}

DataValue DataValue::Special(std::int32_t specialCode, DataType dataType) {
    return DataValue(SpecialValue{specialCode, dataType});
}

bool DataValue::IsSpecial() const {
    return std::holds_alternative<SpecialValue>(m_value);
}

std::int32_t DataValue::GetSpecialCode() const {
    const auto* special = std::get_if<SpecialValue>(&m_value);
    return special ? special->code : SpecialCode::NotSpecial;
}

DataType DataValue::GetDataType() const {
    if (const auto* special = std::get_if<SpecialValue>(&m_value)) {
        return special->type;
    }
    if (std::holds_alternative<SpatialValue>(m_value)) {
        return DataType::Spatial;
    }
    return std::holds_alternative<double>(m_value) ? DataType::Real : DataType::String;
}

double DataValue::GetReal() const {
    if (const auto* real = std::get_if<double>(&m_value)) {
        return *real;
    }
    if (const auto* text = std::get_if<StringValue>(&m_value)) {
        bool ok = false;
        const double parsed = text->text.trimmed().toDouble(&ok);
        return ok ? parsed : kNaN;
    }
    return kNaN;
}

TString DataValue::GetString() const {
    if (const auto* text = std::get_if<StringValue>(&m_value)) {
        return text->text;
    }
    if (const auto* real = std::get_if<double>(&m_value)) {
        return TString::number(*real, 'g', QLocale::FloatingPointShortest);
    }
    if (const auto* spatial = std::get_if<SpatialValue>(&m_value)) {
        return FromUtf8(spatial->shape->ToWkt());
    }
    return {};
}

Collation DataValue::GetCollation() const {
    const auto* text = std::get_if<StringValue>(&m_value);
    return text ? text->collation : kUnknownCollation;
}

std::shared_ptr<const lmxgeo::Spatial> DataValue::GetSpatial() const {
    const auto* spatial = std::get_if<SpatialValue>(&m_value);
    return spatial ? spatial->shape : nullptr;
}

bool DataValue::SpatialValue::operator==(const SpatialValue& other) const {
    return shape == other.shape || shape->IsEqual(*other.shape);
}

bool DataValue::operator==(const DataValue& other) const {
    return m_value == other.m_value;
}

DataValueRect::DataValueRect(DataValue minX, DataValue maxX, DataValue minY, DataValue maxY)
    : m_minX(std::move(minX)), m_maxX(std::move(maxX)), m_minY(std::move(minY)),
      m_maxY(std::move(maxY)) {}

double DataValueRect::Width() const {
    return m_maxX.GetReal() - m_minX.GetReal();
}

double DataValueRect::Height() const {
    return m_maxY.GetReal() - m_minY.GetReal();
}
