#include <atomic>
#include <bit>
#include <gtest/gtest.h>
#include <stdexcept>
#include <string>
#include <thread>

#include <lmxmaps/GeomExternal.h>
#include <lmxmaps/WktParser.h>
#include <lmxmaps/host/LumivexException.h>

namespace {

using geom::ConstGeom;
using geom::ConstGeomPtr;
using geom::Geom;
using geom::Path;
using geom::Point;

ConstGeomPtr MakeGeometry(std::vector<Point> points, std::vector<Path> lines,
                          std::vector<geom::Polygon> polys) {
    return std::make_shared<const ConstGeom>(
        Geom(std::move(points), std::move(lines), std::move(polys)));
}

std::vector<float> BytesToFloats(const lrt::core::ByteArray& bytes) {
    EXPECT_EQ(bytes.size() % 4, 0u);
    std::vector<float> floats;
    for (std::size_t i = 0; i + 3 < bytes.size(); i += 4) {
        const std::uint32_t bits = bytes[i] | (bytes[i + 1] << 8) | (bytes[i + 2] << 16) |
                                   (static_cast<std::uint32_t>(bytes[i + 3]) << 24);
        floats.push_back(std::bit_cast<float>(bits));
    }
    return floats;
}

lrt::core::ByteArray Bytes(const ConstGeomPtr& geometry) {
    return GeomExternal::Serialize(*GeomExternal::Make(geometry));
}

std::vector<float> Floats(const ConstGeomPtr& geometry) {
    return BytesToFloats(Bytes(geometry));
}

// Reads the float stream back, written from the description of the byte form: markers 3
// (points), 2 (lines), 1 (polygons) open blocks with an origin, 4 says the origin is the first
// coordinate, 5 starts a polygon, 6 a path with its coordinate count, 7 ends a block.
Geom DecodeFloats(const std::vector<float>& floats) {
    std::vector<Point> points;
    std::vector<Path> lines;
    std::vector<geom::Polygon> polys;
    std::size_t i = 0;
    auto next = [&]() {
        if (i >= floats.size()) {
            throw std::runtime_error("stream ends early");
        }
        return floats[i++];
    };
    auto readPath = [&](double ox, double oy) {
        const int count = static_cast<int>(next());
        Path path;
        for (int c = 0; c < count; c += 2) {
            const double dx = next();
            const double dy = next();
            path.push_back({ox + dx, oy + dy});
        }
        return path;
    };
    while (i < floats.size()) {
        const float block = next();
        const double ox = next();
        const double oy = next();
        if (block == 3.0f) {
            for (const Point& point : readPath(ox, oy)) {
                points.push_back(point);
            }
            EXPECT_EQ(next(), 7.0f);
            continue;
        }
        float marker = next();
        if (marker == 4.0f) {
            marker = next();
        }
        while (marker != 7.0f) {
            if (block == 2.0f) {
                EXPECT_EQ(marker, 6.0f);
                lines.push_back(readPath(ox, oy));
            } else if (marker == 5.0f) {
                polys.emplace_back();
            } else if (marker == 6.0f && !polys.empty()) {
                polys.back().push_back(readPath(ox, oy));
            } else {
                throw std::runtime_error("unexpected marker " + std::to_string(marker));
            }
            marker = next();
        }
    }
    return Geom(std::move(points), std::move(lines), std::move(polys));
}

// A zigzag of 101 points whose teeth (0.001 high) are far below the tolerance of level 5
// (0.001 * 360 / 5 = 0.072).
Path FineZigzag() {
    Path path;
    for (int i = 0; i <= 100; ++i) {
        path.push_back({i * 0.1, (i % 2) * 0.001});
    }
    return path;
}

class GeomExternalBytes : public testing::Test {
protected:
    void SetUp() override {
        GeomExternal::SetSerializerMethodsForTest(nullptr, nullptr);
        GeomExternal::Register();
    }
    void TearDown() override { SetUp(); }
};

} // namespace

TEST_F(GeomExternalBytes, OnePointIsSevenFloats) {
    const lrt::core::ByteArray bytes = Bytes(MakeGeometry({{1.5, -2.25}}, {}, {}));
    EXPECT_EQ(bytes.size(), 28u);
    EXPECT_EQ(BytesToFloats(bytes), (std::vector<float>{3, 1.5f, -2.25f, 2, 0, 0, 7}));
    // Little-endian: 3.0f is 0x40400000.
    EXPECT_EQ(bytes[0], 0x00);
    EXPECT_EQ(bytes[3], 0x40);
    EXPECT_EQ(bytes[2], 0x40);
}

TEST_F(GeomExternalBytes, BlocksMarkersAndOrigins) {
    // An empty first line: origin (0, 0) without the marker 4; empty lines are skipped.
    EXPECT_EQ(Floats(MakeGeometry({}, {{}, {{1, 2}, {3, 5}}, {}}, {})),
              (std::vector<float>{2, 0, 0, 6, 4, 1, 2, 3, 5, 7}));
    // A first line with points: the origin is its first point, flagged by 4.
    EXPECT_EQ(Floats(MakeGeometry({}, {{{10, 20}, {11, 22}}}, {})),
              (std::vector<float>{2, 10, 20, 4, 6, 4, 0, 0, 1, 2, 7}));
    // Points, then lines, then polygons; a polygon whose first ring is empty is skipped.
    const geom::Polygon square{{{1, 1}, {2, 1}, {2, 2}, {1, 1}}, {}};
    EXPECT_EQ(Floats(MakeGeometry({{5, 5}, {6, 7}}, {{{0, 0}, {1, 0}}}, {square, {{}}})),
              (std::vector<float>{3, 5, 5, 4, 0, 0, 1, 2, 7,                         // points
                                  2, 0, 0, 4, 6, 4, 0, 0, 1, 0, 7,                   // line
                                  1, 1, 1, 4, 5, 6, 8, 0, 0, 1, 0, 1, 1, 0, 0, 7})); // polygon
    // A first polygon without a first point: origin (0, 0), no 4.
    EXPECT_EQ(Floats(MakeGeometry({}, {}, {{{}}, square})),
              (std::vector<float>{1, 0, 0, 5, 6, 8, 1, 1, 2, 1, 2, 2, 1, 1, 7}));
    EXPECT_TRUE(Bytes(MakeGeometry({}, {}, {})).empty());
    EXPECT_TRUE(Bytes(nullptr).empty());
}

TEST_F(GeomExternalBytes, DifferencesFromTheRoundedOriginKeepPrecision) {
    // Far from 0, floats are 8 units apart; the differences from the float origin stay exact.
    const double big = 100000001.0;
    const ConstGeomPtr line = MakeGeometry({}, {{{big, 0.0}, {big + 0.25, 0.5}}}, {});
    const std::vector<float> floats = Floats(line);
    const double origin = static_cast<float>(big);
    EXPECT_EQ(floats[1], static_cast<float>(big));
    EXPECT_EQ(floats[6], static_cast<float>(big - origin));
    EXPECT_EQ(floats[8], static_cast<float>(big + 0.25 - origin));
    const Geom decoded = DecodeFloats(floats);
    EXPECT_EQ(decoded.GetLines()[0][1].x, big + 0.25);
}

TEST_F(GeomExternalBytes, DecodesBackToTheGeometry) {
    geom::ConstGeomPtr parsed;
    ASSERT_TRUE(WktParser::FromString(
        QStringLiteral("GEOMETRYCOLLECTION (POINT (-122.25 37.5), POINT (2.5 48.75), "
                       "LINESTRING (0 0, 10 10.5), LINESTRING (3 3, 4 4), "
                       "POLYGON ((1 1, 9 1, 9 9, 1 1), (2 2, 3 2, 3 3, 2 2)), "
                       "POLYGON ((20 20, 21 20, 21 21, 20 20)))"),
        parsed));
    EXPECT_EQ(DecodeFloats(Floats(parsed)), parsed->Get());
    EXPECT_EQ(DecodeFloats(GeomExternal::FloatarizeUncastGeometry(*GeomExternal::Make(parsed))),
              parsed->Get());
}

TEST_F(GeomExternalBytes, RegistrationAndInstalledSerializers) {
    const auto registered = lrt::core::FindExternalType(GeomExternal::kTypeCode);
    ASSERT_TRUE(registered);
    EXPECT_EQ(registered->name, "GeomExternal");
    EXPECT_EQ(registered->code, 32769u);
    // Without a deserializer there is nothing to read.
    EXPECT_EQ(GeomExternal::Deserialize(lrt::core::ByteArray{'x'}), nullptr);

    GeomExternal::SetSerializerMethodsForTest(
        [](const ConstGeom& geometry) {
            const std::string wkt = WktWriter::ToWkt(geometry);
            return lrt::core::ByteArray(wkt.begin(), wkt.end());
        },
        [](const TString& text) {
            geom::ConstGeomPtr parsed;
            WktParser::FromString(text, parsed);
            return parsed;
        });
    const ConstGeomPtr line = MakeGeometry({}, {{{0, 0}, {1, 1}}}, {});
    const lrt::core::ByteArray bytes = registered->serialize(*GeomExternal::Make(line));
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "LINESTRING (0 0, 1 1)");
    const std::shared_ptr<lrt::core::ValueExternal> back = registered->deserialize(bytes);
    ASSERT_TRUE(back);
    EXPECT_TRUE(back->IsEqual(*GeomExternal::Make(line)));

    GeomExternal::SetSerializerMethodsForTest(nullptr, nullptr);
    EXPECT_TRUE(GeomExternal::Serialize(*GeomExternal::Make(line)).empty());
}

TEST(GeomExternal, ValueOperations) {
    const ConstGeomPtr line = MakeGeometry({}, {{{0, 0}, {1, 1}}}, {});
    const std::shared_ptr<GeomExternal> value = GeomExternal::Make(line);
    EXPECT_EQ(value->GetExternalTypeName(), "GeomExternal");
    const std::shared_ptr<lrt::core::ValueExternal> clone = value->Clone();
    EXPECT_EQ(std::dynamic_pointer_cast<GeomExternal>(clone)->GetNonGeneralizedGeometryPtr(), line);
    EXPECT_TRUE(value->IsEqual(*clone));
    EXPECT_TRUE(value->IsEqual(*GeomExternal::Make(MakeGeometry({}, {{{0, 0}, {1, 1}}}, {}))));
    EXPECT_FALSE(value->IsEqual(*GeomExternal::Make(MakeGeometry({}, {{{0, 0}, {1, 2}}}, {}))));
    EXPECT_FALSE(value->IsEqual(*GeomExternal::Make(nullptr)));
    EXPECT_TRUE(GeomExternal::Make(nullptr)->IsEqual(*GeomExternal::Make(nullptr)));
    EXPECT_THROW(value->GetHashValue(), LogicException);

    class OtherValue : public lrt::core::ValueExternal {
    public:
        OtherValue() : ValueExternal("OtherValue") {}
        std::shared_ptr<ValueExternal> Clone() const override {
            return std::make_shared<OtherValue>();
        }
        bool IsEqual(const ValueExternal&) const override { return true; }
        std::size_t GetHashValue() const override { return 0; }
    };
    GeomExternal::Register();
    EXPECT_FALSE(value->IsEqual(OtherValue()));
    EXPECT_THROW(GeomExternal::FloatarizeUncastGeometry(OtherValue()), LogicException);
    EXPECT_TRUE(GeomExternal::FloatarizeUncastGeometry(*GeomExternal::Make(nullptr)).empty());
}

TEST(GeomExternalLevels, OneGeneralizedLevelIsCached) {
    const ConstGeomPtr zigzag = MakeGeometry({}, {FineZigzag()}, {});
    const std::shared_ptr<GeomExternal> value = GeomExternal::Make(zigzag);
    EXPECT_EQ(value->GetGeometryPtr(5), zigzag);

    value->GeneralizeGeometry(5);
    const ConstGeomPtr level5 = value->GetGeometryPtr(5);
    ASSERT_NE(level5, zigzag);
    // Every tooth is within the tolerance: only the ends stay.
    EXPECT_EQ(level5->GetLines(),
              (std::vector<Path>{{zigzag->GetLines()[0].front(), zigzag->GetLines()[0].back()}}));
    EXPECT_EQ(value->GetGeometryPtr(0), zigzag);
    EXPECT_EQ(value->GetNonGeneralizedGeometryPtr(), zigzag);
    // Asking again keeps the cached copy.
    value->GeneralizeGeometry(5);
    EXPECT_EQ(value->GetGeometryPtr(5), level5);

    value->GeneralizeGeometry(7);
    EXPECT_NE(value->GetGeometryPtr(7), zigzag);
    EXPECT_EQ(value->GetGeometryPtr(5), zigzag);

    // Level 0 generalizes nothing.
    value->GeneralizeGeometry(0);
    EXPECT_EQ(value->GetGeometryPtr(0), zigzag);

    // Points are never generalized, however close.
    const ConstGeomPtr points = MakeGeometry({{0, 0}, {0, 0.0001}, {0, 0.0002}}, {}, {});
    const std::shared_ptr<GeomExternal> pointValue = GeomExternal::Make(points);
    pointValue->GeneralizeGeometry(5);
    EXPECT_EQ(pointValue->GetGeometryPtr(5), points);
    const std::shared_ptr<GeomExternal> nothing = GeomExternal::Make(nullptr);
    nothing->GeneralizeGeometry(5);
    EXPECT_EQ(nothing->GetGeometryPtr(5), nullptr);
}

TEST(GeomExternalLevels, ConcurrentReadersSeeTheFullOrAWholeGeneralizedCopy) {
    const ConstGeomPtr zigzag = MakeGeometry({}, {FineZigzag()}, {});
    const std::shared_ptr<const GeomExternal> value = GeomExternal::Make(zigzag);
    constexpr int kThreads = 4;
    constexpr int kRounds = 200;
    std::atomic<int> wrong{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < kThreads; ++t) {
        readers.emplace_back([&value, &zigzag, &wrong, t] {
            for (int round = 0; round < kRounds; ++round) {
                // Two threads share each level, so levels displace each other while read.
                const int level = 5 + (t + round) % 2;
                value->GeneralizeGeometry(level);
                const ConstGeomPtr seen = value->GetGeometryPtr(level);
                const bool full = seen == zigzag;
                const bool generalized =
                    seen && seen->GetLines().size() == 1 && seen->GetLines()[0].size() == 2;
                if (!full && !generalized) {
                    ++wrong;
                }
            }
        });
    }
    for (std::thread& reader : readers) {
        reader.join();
    }
    EXPECT_EQ(wrong.load(), 0);
    // At most one level stays.
    const bool five = value->GetGeometryPtr(5) != zigzag;
    const bool six = value->GetGeometryPtr(6) != zigzag;
    EXPECT_FALSE(five && six);
}
