#include <bit>
#include <mutex>
#include <shared_mutex>

#include <lmxmaps/GeomExternal.h>
#include <lmxmaps/host/LumivexException.h>

namespace {

// Markers of the float stream.
constexpr float kPolygonBlock = 1.0f;
constexpr float kLineBlock = 2.0f;
constexpr float kPointBlock = 3.0f;
constexpr float kOriginFromFirstCoordinate = 4.0f;
constexpr float kPolygonStart = 5.0f;
constexpr float kPathStart = 6.0f;
constexpr float kBlockEnd = 7.0f;

constexpr double kFullTurnDegrees = 360.0;
constexpr std::uint32_t kNotHashableSite = 0x4C4D4703u;
constexpr std::uint32_t kNotGeomExternalSite = 0x4C4D4704u;

// Guards s_serialize and s_deserialize: installed at start-up (or by tests), read by every
// serialization.
std::shared_mutex& SerializerMutex() {
    static std::shared_mutex mutex;
    return mutex;
}

// Writes coordinates relative to an origin rounded to float, the difference taken in double
// before it is rounded, so that origin + difference decodes close to the original.
class FloatStreamWriter {
public:
    void Marker(float marker) { m_floats.push_back(marker); }

    void Origin(const geom::Point& origin) {
        m_origin = {static_cast<float>(origin.x), static_cast<float>(origin.y)};
        m_floats.push_back(static_cast<float>(m_origin.x));
        m_floats.push_back(static_cast<float>(m_origin.y));
    }

    void CoordinateCount(std::size_t points) { m_floats.push_back(static_cast<float>(2 * points)); }

    void Relative(const geom::Point& point) {
        m_floats.push_back(static_cast<float>(point.x - m_origin.x));
        m_floats.push_back(static_cast<float>(point.y - m_origin.y));
    }

    void Path(const geom::Path& path) {
        Marker(kPathStart);
        CoordinateCount(path.size());
        for (const geom::Point& point : path) {
            Relative(point);
        }
    }

    std::vector<float> Take() { return std::move(m_floats); }

private:
    std::vector<float> m_floats;
    geom::Point m_origin;
};

void WritePointBlock(FloatStreamWriter& writer, const std::vector<geom::Point>& points) {
    writer.Marker(kPointBlock);
    writer.Origin(points.front());
    writer.CoordinateCount(points.size());
    for (const geom::Point& point : points) {
        writer.Relative(point);
    }
    writer.Marker(kBlockEnd);
}

// The origin marker and origin of a line or polygon block: its first coordinate, or (0, 0)
// without the marker when the first path is empty.
void WriteBlockOrigin(FloatStreamWriter& writer, const geom::Path* firstPath) {
    const bool fromFirst = firstPath != nullptr && !firstPath->empty();
    writer.Origin(fromFirst ? firstPath->front() : geom::Point{});
    if (fromFirst) {
        writer.Marker(kOriginFromFirstCoordinate);
    }
}

void WriteLineBlock(FloatStreamWriter& writer, const std::vector<geom::Path>& lines) {
    writer.Marker(kLineBlock);
    WriteBlockOrigin(writer, &lines.front());
    for (const geom::Path& line : lines) {
        if (!line.empty()) {
            writer.Path(line);
        }
    }
    writer.Marker(kBlockEnd);
}

void WritePolygonBlock(FloatStreamWriter& writer, const std::vector<geom::Polygon>& polys) {
    writer.Marker(kPolygonBlock);
    WriteBlockOrigin(writer, polys.front().empty() ? nullptr : &polys.front().front());
    for (const geom::Polygon& polygon : polys) {
        if (polygon.empty() || polygon.front().empty()) {
            continue;
        }
        writer.Marker(kPolygonStart);
        for (const geom::Path& ring : polygon) {
            if (!ring.empty()) {
                writer.Path(ring);
            }
        }
    }
    writer.Marker(kBlockEnd);
}

std::vector<float> FloatarizeGeometry(const geom::ConstGeom& geometry) {
    FloatStreamWriter writer;
    if (!geometry.GetPoints().empty()) {
        WritePointBlock(writer, geometry.GetPoints());
    }
    if (!geometry.GetLines().empty()) {
        WriteLineBlock(writer, geometry.GetLines());
    }
    if (!geometry.GetPolys().empty()) {
        WritePolygonBlock(writer, geometry.GetPolys());
    }
    return writer.Take();
}

bool ShouldGeneralize(geom::GeometryType type) {
    switch (type) {
    case geom::GeometryType::Line:
    case geom::GeometryType::Polygon:
    case geom::GeometryType::MultiLine:
    case geom::GeometryType::MultiPolygon:
    case geom::GeometryType::Collection:
        return true;
    default:
        return false;
    }
}

} // namespace

GeomExternal::SerializeMethod GeomExternal::s_serialize;
GeomExternal::DeserializeMethod GeomExternal::s_deserialize;

GeomExternal::GeomExternal(geom::ConstGeomPtr geometry)
    : lrt::core::ValueExternal(kTypeName), m_geometry(std::move(geometry)) {}

std::shared_ptr<GeomExternal> GeomExternal::Make(geom::ConstGeomPtr geometry) {
    return std::make_shared<GeomExternal>(std::move(geometry));
}

std::shared_ptr<lrt::core::ValueExternal> GeomExternal::Clone() const {
    return Make(m_geometry);
}

bool GeomExternal::IsEqual(const lrt::core::ValueExternal& other) const {
    const auto* otherGeometry = dynamic_cast<const GeomExternal*>(&other);
    if (otherGeometry == nullptr || other.GetExternalTypeName() != GetExternalTypeName()) {
        return false;
    }
    const geom::ConstGeomPtr& theirs = otherGeometry->m_geometry;
    if (!m_geometry || !theirs) {
        return m_geometry == theirs;
    }
    return *m_geometry == *theirs;
}

std::size_t GeomExternal::GetHashValue() const {
    ThrowLogicException(__FILE__, __LINE__, "geometry values are not hashable",
                        TError::LogicAssert(kNotHashableSite));
}

geom::ConstGeomPtr GeomExternal::GetGeometryPtr(int level) const {
    if (level != 0) {
        const TReadGuard lock(m_lock);
        const auto cached = m_generalized.find(level);
        if (cached != m_generalized.end()) {
            return cached->second;
        }
    }
    return m_geometry;
}

void GeomExternal::GeneralizeGeometry(int level) const {
    if (level == 0 || !m_geometry) {
        return;
    }
    {
        const TReadGuard lock(m_lock);
        if (m_generalized.contains(level)) {
            return;
        }
    }
    {
        // The old level goes before the new one is computed: only one copy is kept.
        const TWriteGuard lock(m_lock);
        if (m_generalized.contains(level)) {
            return;
        }
        m_generalized.clear();
    }
    geom::ConstGeomPtr generalized = m_geometry;
    if (ShouldGeneralize(m_geometry->GetType())) {
        geom::Geom out;
        if (geom::GeneralizeGeometryIfTooDetailed(*m_geometry, out, kFullTurnDegrees / level)) {
            generalized = std::make_shared<const geom::ConstGeom>(std::move(out));
        }
    }
    const TWriteGuard lock(m_lock);
    if (m_generalized.contains(level)) {
        return;
    }
    // Another level may have come in while this one was computed.
    m_generalized.clear();
    m_generalized.emplace(level, std::move(generalized));
}

void GeomExternal::Register() {
    {
        const std::unique_lock lock(SerializerMutex());
        s_serialize = &GeomExternal::ByterizeGeometry;
    }
    lrt::core::RegisterExternalType(kTypeCode, kTypeName, &GeomExternal::Serialize,
                                    &GeomExternal::Deserialize);
}

lrt::core::ByteArray GeomExternal::Serialize(const lrt::core::ValueExternal& value) {
    SerializeMethod serialize;
    {
        const std::shared_lock lock(SerializerMutex());
        serialize = s_serialize;
    }
    if (!serialize) {
        return {};
    }
    const auto* geometryValue = dynamic_cast<const GeomExternal*>(&value);
    LMX_LOGIC_ASSERT_ID(geometryValue != nullptr, kNotGeomExternalSite);
    const geom::ConstGeomPtr& geometry = geometryValue->GetNonGeneralizedGeometryPtr();
    return geometry ? serialize(*geometry) : lrt::core::ByteArray();
}

std::shared_ptr<GeomExternal> GeomExternal::Deserialize(lrt::core::ArrayView bytes) {
    DeserializeMethod deserialize;
    {
        const std::shared_lock lock(SerializerMutex());
        deserialize = s_deserialize;
    }
    if (!deserialize) {
        return nullptr;
    }
    return Make(deserialize(lrt::core::DecodeBytesAsString(bytes)));
}

std::vector<float> GeomExternal::FloatarizeUncastGeometry(const lrt::core::ValueExternal& value) {
    const std::optional<lrt::core::ExternalType> registered =
        lrt::core::FindExternalType(std::string(kTypeName));
    const auto* geometryValue = dynamic_cast<const GeomExternal*>(&value);
    LMX_LOGIC_ASSERT_ID(registered && value.GetExternalTypeName() == registered->name &&
                            geometryValue != nullptr,
                        kNotGeomExternalSite);
    const geom::ConstGeomPtr& geometry = geometryValue->GetNonGeneralizedGeometryPtr();
    return geometry ? FloatarizeGeometry(*geometry) : std::vector<float>();
}

void GeomExternal::SetSerializerMethodsForTest(SerializeMethod serialize,
                                               DeserializeMethod deserialize) {
    const std::unique_lock lock(SerializerMutex());
    s_serialize = std::move(serialize);
    s_deserialize = std::move(deserialize);
}

lrt::core::ByteArray GeomExternal::ByterizeGeometry(const geom::ConstGeom& geometry) {
    constexpr int kBitsPerByte = 8;
    constexpr std::uint32_t kByteMask = 0xFFu;
    const std::vector<float> floats = FloatarizeGeometry(geometry);
    lrt::core::ByteArray bytes;
    bytes.reserve(floats.size() * sizeof(float));
    for (const float value : floats) {
        const auto bits = std::bit_cast<std::uint32_t>(value);
        for (std::size_t i = 0; i < sizeof(float); ++i) {
            bytes.push_back(static_cast<std::uint8_t>((bits >> (kBitsPerByte * i)) & kByteMask));
        }
    }
    return bytes;
}
