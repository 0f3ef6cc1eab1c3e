#pragma once
// DataValue, the host's variant: a real, a string, a spatial value, or a special value that
// stands for a missing one (null, ...).
//
// A special value carries a special code (why it has no value; 1 is null) and the data type
// it stands in for, so that a null real stays distinguishable from a null string.

#include <cstdint>
#include <memory>
#include <variant>

#include <lmxmaps/host/TString.h>

namespace lmxgeo {
class Spatial;
}

// Data-type codes shared with the data engine.
enum class DataType : std::int32_t {
    Unknown = 0,
    Real = 1,
    String = 2,
    Spatial = 7,
};

// Special codes shared with the data engine.
namespace SpecialCode {
inline constexpr std::int32_t NotSpecial = 0;
inline constexpr std::int32_t Null = 1;
} // namespace SpecialCode

// How a string value compares and sorts: a collation id of the data engine, opaque here.
using Collation = std::int32_t;
// A string whose collation nobody stated.
inline constexpr Collation kUnknownCollation = -1;

class DataValue {
public:
    // A null value of unknown type.
    DataValue();

    static DataValue Real(double value);
    static DataValue String(const TString& value, Collation collation = kUnknownCollation);
    // A null pointer gives the null spatial value.
    static DataValue Spatial(std::shared_ptr<const lmxgeo::Spatial> value);
    static DataValue Special(std::int32_t specialCode, DataType dataType);

    bool IsSpecial() const;
    // 0 for a value that is not special.
    std::int32_t GetSpecialCode() const;
    DataType GetDataType() const;

    // The value read as a real: a real as it is, a string parsed as a decimal number (NaN when
    // it is not one), a special value as NaN.
    double GetReal() const;
    // The value as text: a string as it is, a real in shortest round-trip form, a spatial
    // value as WKT, a special value as an empty string.
    TString GetString() const;
    // A string's collation; kUnknownCollation for other values.
    Collation GetCollation() const;
    // The spatial value; null for other values.
    std::shared_ptr<const lmxgeo::Spatial> GetSpatial() const;

    // Strings are equal with equal text and collation, spatial values with equal shapes.
    bool operator==(const DataValue& other) const;

private:
    struct StringValue {
        TString text;
        Collation collation;
        bool operator==(const StringValue&) const = default;
    };
    struct SpatialValue {
        std::shared_ptr<const lmxgeo::Spatial> shape;
        bool operator==(const SpatialValue& other) const;
    };
    struct SpecialValue {
        std::int32_t code;
        DataType type;
        bool operator==(const SpecialValue&) const = default;
    };

    using Variant = std::variant<double, StringValue, SpecialValue, SpatialValue>;

    explicit DataValue(Variant value);

    Variant m_value;
};

// Four DataValues forming a box; constructor and accessors go min X, max X, min Y, max Y.
class DataValueRect {
public:
    DataValueRect() = default;
    DataValueRect(DataValue minX, DataValue maxX, DataValue minY, DataValue maxY);

    const DataValue& MinX() const { return m_minX; }
    const DataValue& MaxX() const { return m_maxX; }
    const DataValue& MinY() const { return m_minY; }
    const DataValue& MaxY() const { return m_maxY; }

    // Maximum minus minimum, read as reals (NaN when a bound is special).
    double Width() const;
    double Height() const;

    bool operator==(const DataValueRect& other) const = default;

private:
    DataValue m_minX;
    DataValue m_maxX;
    DataValue m_minY;
    DataValue m_maxY;
};
