#include <stdexcept>
#include <string>

#include <lmxmaps/host/Shapes.h>

namespace lmxgeo {

namespace {
// How much of rejected text an error message quotes.
constexpr std::size_t kQuotedTextLength = 60;
} // namespace

struct Spatial::Impl {
    int shapeType = ShapeType::kUnknown;
    std::vector<XY> points;
    std::vector<Path> lines;
    std::vector<Polygon> polys;

    bool operator==(const Impl&) const = default;
};

Spatial::Spatial(std::unique_ptr<Impl> impl, Kind kind) : m_impl(std::move(impl)), m_kind(kind) {}

Spatial::~Spatial() = default;

std::shared_ptr<const Spatial> Spatial::FromWkt(std::string_view wkt, Kind kind) {
    auto impl = std::make_unique<Impl>();
    impl->shapeType = WktSerialization::Extract(wkt, impl->points, impl->lines, impl->polys);
    if (impl->shapeType == ShapeType::kUnknown) {
        throw std::invalid_argument("not WKT: " + std::string(wkt.substr(0, kQuotedTextLength)));
    }
    return std::shared_ptr<const Spatial>(new Spatial(std::move(impl), kind));
}

std::string Spatial::ToWkt() const {
    return WktSerialization::Compose(m_impl->shapeType, m_impl->points, m_impl->lines,
                                     m_impl->polys);
}

int Spatial::ToArrays(std::vector<XY>& points, std::vector<Path>& lines,
                      std::vector<Polygon>& polys) const {
    points = m_impl->points;
    lines = m_impl->lines;
    polys = m_impl->polys;
    return m_impl->shapeType;
}

bool Spatial::IsEqual(const Spatial& other) const {
    return m_kind == other.m_kind && *m_impl == *other.m_impl;
}

} // namespace lmxgeo
