#pragma once
// Shapes on GEOS: WKT extraction, custom territories (union, centroid) and the host's spatial
// value. GEOS stays out of this header.

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <lmxmaps/host/Geodesy.h>

namespace lmxgeo {

using Path = std::vector<XY>;
using Polygon = std::vector<Path>; // first ring outer, each ring closed

// Shape types, numbered as the module's geometry types.
namespace ShapeType {
inline constexpr int kUnknown = 0;
inline constexpr int kEmpty = 1;
inline constexpr int kPoint = 2;
inline constexpr int kLine = 3;
inline constexpr int kPolygon = 4;
inline constexpr int kMultiPoint = 5;
inline constexpr int kMultiLine = 6;
inline constexpr int kMultiPolygon = 7;
inline constexpr int kCollection = 8;
} // namespace ShapeType

namespace WktSerialization {

// Reads one WKT text into points, lines and polygon rings (collections are flattened, empty
// members skipped) and returns its shape type: the type the text names (a MULTIPOINT of one
// point is still a multi-point), 1 for any empty shape, 0 when the text is not WKT (the arrays
// are then left empty). Unclosed rings are closed. A line of fewer than two points raises
// std::invalid_argument with "line has less than 2 points"; a ring of fewer than four
// "ring has less than 4 points".
int Extract(std::string_view wkt, std::vector<XY>& points, std::vector<Path>& lines,
            std::vector<Polygon>& polys);

// The WKT of the arrays, coordinates in shortest round-trip form. The shape type is kept when
// the arrays fit it (a multi-point of one point stays a MULTIPOINT); otherwise the type follows
// from the arrays. A collection lists its points, then its lines, then its polygons.
std::string Compose(int shapeType, const std::vector<XY>& points, const std::vector<Path>& lines,
                    const std::vector<Polygon>& polys);

} // namespace WktSerialization

namespace CustomTerritories {

// Runs task(i) for i in [0, count); how (serially, in parallel) is the caller's choice.
using Executor =
    std::function<void(std::size_t count, const std::function<void(std::size_t)>& task)>;

// Union option bit: make each input valid before it is merged (a self-intersecting ring would
// otherwise fail the whole union).
inline constexpr int kUnionMakeValid = 1;
// Union output: WKT.
inline constexpr int kOutputWkt = 5;

// WKT of a point ("POINT EMPTY" when a coordinate is NaN).
std::string CreatePoint(double x, double y);

// Unites WKT geometries. Finish merges them pairwise, tree-wise: each round unites disjoint
// pairs as the executor's tasks, so the rounds run in parallel when the executor does.
class Union {
public:
    // Raises std::invalid_argument for options other than 0 and kUnionMakeValid.
    Union(Executor executor, int options);
    ~Union();
    Union(const Union&) = delete;
    Union& operator=(const Union&) = delete;

    // Raises std::invalid_argument when the text is not WKT.
    void Add(std::string_view wkt);
    // The union as WKT ("GEOMETRYCOLLECTION EMPTY" when nothing was added); the added
    // geometries are consumed. Raises std::invalid_argument for an output other than
    // kOutputWkt and std::runtime_error when GEOS cannot unite the shapes.
    std::string Finish(int output);

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

// The centroid of a territory. For a territory with area whose centroid falls outside it (a
// ring, a crescent), the constituent point inside it nearest the centroid is taken (the first
// one on a tie); with no constituent inside, a point on its surface. Points and lines keep
// their centroid.
class Centroid {
public:
    void AddConstituent(double x, double y);
    // NaN coordinates for an empty geometry; raises std::invalid_argument on text that is not
    // WKT.
    XY Finish(std::string_view wkt) const;

private:
    std::vector<XY> m_constituents;
};

} // namespace CustomTerritories

// The host's spatial value: a shape on the sphere (geography, longitude/latitude) or in the
// plane (geometry). Immutable, so it is shared between threads freely.
class Spatial {
public:
    enum class Kind { Geography, Geometry };

    // Raises std::invalid_argument when the text is not WKT.
    static std::shared_ptr<const Spatial> FromWkt(std::string_view wkt, Kind kind);
    ~Spatial();
    Spatial(const Spatial&) = delete;
    Spatial& operator=(const Spatial&) = delete;

    bool IsGeography() const { return m_kind == Kind::Geography; }
    bool IsGeometry() const { return m_kind == Kind::Geometry; }

    std::string ToWkt() const;
    // The shape as points, lines and polygon rings; returns the shape type numbered as in
    // WktSerialization::Extract.
    int ToArrays(std::vector<XY>& points, std::vector<Path>& lines,
                 std::vector<Polygon>& polys) const;

    // Same kind, same shape type and the same coordinates.
    bool IsEqual(const Spatial& other) const;

private:
    struct Impl;
    Spatial(std::unique_ptr<Impl> impl, Kind kind);

    std::unique_ptr<Impl> m_impl;
    Kind m_kind;
};

} // namespace lmxgeo
