#pragma once
// Well-Known Text to the module's geometry value and back.

#include <string>

#include <lmxmaps/Geom.h>
#include <lmxmaps/host/DataValue.h>

class WktParser {
public:
    // out becomes the geometry of the text, its type the type the text names. Lines and rings
    // lose points whose x + y is NaN and points repeating the previous one. Text that is not
    // WKT gives false and an empty geometry of type Unknown. A line of fewer than two points
    // or a ring of fewer than four raises SpatialOGRTypeException.
    static bool FromString(const TString& text, geom::ConstGeomPtr& out);
    // The same for the value's text.
    static bool FromString(const DataValue& value, geom::ConstGeomPtr& out);
};

class WktWriter {
public:
    // WKT with coordinates in shortest round-trip form, so FromString gives the geometry back.
    // The geometry's type names the shape when the contents fit it (a multi-point of one point
    // stays a MULTIPOINT), otherwise the contents decide; no contents give
    // "GEOMETRYCOLLECTION EMPTY".
    static std::string ToWkt(const geom::ConstGeom& geometry);
};
