#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <limits>
#include <thread>
#include <vector>

#include <lmxmaps/AlbersEqualAreaProjector.h>
#include <lmxmaps/Projectors.h>
#include <lmxmaps/SpatialProjector.h>

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
const FieldName kLon(QStringLiteral("Longitude"));
const FieldName kLat(QStringLiteral("Latitude"));

SpatialProjectorPtr WebMercator() {
    return SpatialProjector::WebMercatorFactory(kLon, kLat, QStringLiteral("EPSG:3857"));
}

std::vector<SpatialProjectorPtr> EveryProjector() {
    return {
        WebMercator(),
        SpatialProjector::MercatorFactory(kLon, kLat, QStringLiteral("Mercator"), 0.0),
        SpatialProjector::PlateCarreeFactory(kLon, kLat),
        SpatialProjector::IdentityFactory(kLon, kLat),
        SpatialProjector::CylindricEqualAreaFactory(kLon, kLat, QStringLiteral("cea"), 0.8),
        SpatialProjector::SmythEqualSurfaceFactory(kLon, kLat, QStringLiteral("Smyth")),
        SpatialProjector::AlbersFactory(kLon, kLat, QStringLiteral("Albers"), -96, 23, 29.5, 45.5,
                                        6378206.44, 0.0822718542230038),
    };
}

bool SameBits(double a, double b) {
    return std::memcmp(&a, &b, sizeof a) == 0 || (std::isnan(a) && std::isnan(b));
}

} // namespace

TEST(SpatialProjector, BatchFormsGiveExactlyThePerPointResultsOnEveryThread) {
    const std::vector<double> u = {
        0,   180, -180, 190, -540, 720.25, 45.5, kNaN, kInf, -kInf, 1e300, -0.0, 12.345678901234567,
        -96, -100};
    const std::vector<double> v = {0, 85.0511287798066, -90,  90,    100, -45, 89.999, 10, kNaN,
                                   0, -1e300,           -0.0, -12.3, 23,  40};
    for (const SpatialProjectorPtr& p : EveryProjector()) {
        std::vector<double> x(u.size()), y(u.size());
        p->GetXYArray(u, v, x, y);
        for (std::size_t i = 0; i < u.size(); ++i) {
            const XYPair expected = p->GetProjector().GetXY(u[i], v[i]);
            EXPECT_TRUE(SameBits(x[i], expected.first)) << ToUtf8(p->GetName()) << " u=" << u[i];
            EXPECT_TRUE(SameBits(y[i], expected.second)) << ToUtf8(p->GetName()) << " v=" << v[i];
        }
        std::vector<double> lon(u.size()), lat(u.size());
        p->GetInverseOfXYArray(x, y, lon, lat);
        for (std::size_t i = 0; i < u.size(); ++i) {
            const XYPair expected = p->GetProjector().GetInverseOfXY(x[i], y[i]);
            EXPECT_TRUE(SameBits(lon[i], expected.first)) << ToUtf8(p->GetName()) << " x=" << x[i];
            EXPECT_TRUE(SameBits(lat[i], expected.second)) << ToUtf8(p->GetName()) << " y=" << y[i];
        }
        // In place: outputs over the inputs.
        std::vector<double> inPlaceX = u, inPlaceY = v;
        p->GetXYArray(inPlaceX, inPlaceY, inPlaceX, inPlaceY);
        for (std::size_t i = 0; i < u.size(); ++i) {
            EXPECT_TRUE(SameBits(inPlaceX[i], x[i]) && SameBits(inPlaceY[i], y[i]));
        }
    }

    const std::vector<double> three(3, 1.0);
    std::vector<double> two(2), other(3);
    EXPECT_THROW(WebMercator()->GetXYArray(three, three, two, other), LogicException);
    EXPECT_THROW(WebMercator()->GetInverseOfXYArray(three, two, other, other), LogicException);

    const std::vector<SpatialProjectorPtr> projectors = EveryProjector();
    constexpr int kThreads = 4;
    std::vector<std::vector<double>> results(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&projectors, &results, t] {
            for (const SpatialProjectorPtr& shared : projectors) {
                const SpatialProjectorPtr p = shared;
                const DataValueRect bounds = p->GetWorldBounds();
                results[t].push_back(bounds.Width());
                const SpatialProjectorTransforms::Forward forward(*p);
                for (int i = 0; i < 50; ++i) {
                    results[t].push_back(forward(i * 7.0 - 175.0, i - 25.0).first);
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    for (int t = 1; t < kThreads; ++t) {
        ASSERT_EQ(results[t].size(), results[0].size());
        for (std::size_t i = 0; i < results[0].size(); ++i) {
            EXPECT_TRUE(SameBits(results[t][i], results[0][i]));
        }
    }
}

TEST(SpatialProjector, SeparableFormsBoundsCutoffEqualityAndSpecialPairs) {
    const SpatialProjectorPtr p = WebMercator();
    EXPECT_EQ(p->GetX(180.0), 20037508.342789244);
    EXPECT_EQ(p->GetY(90.0), 20037508.342789244);
    EXPECT_EQ(p->GetInverseOfX(20037508.342789244), 180.0);
    EXPECT_EQ(p->GetUnwrappedInverseOfX(3 * 20037508.342789244), 540.0);
    EXPECT_EQ(p->GetInverseOfY(0.0), 0.0);
    double u = 0, v = 0;
    EXPECT_TRUE(p->GetInverseOfXY(0.0, 0.0, u, v));
    EXPECT_FALSE(p->GetInverseOfXY(kNaN, 0.0, u, v));

    const DataValueRect identityBounds =
        SpatialProjector::IdentityFactory(kLon, kLat)->GetWorldBounds();
    EXPECT_EQ(identityBounds.MinX().GetDataType(), DataType::Real);
    EXPECT_FALSE(identityBounds.MinX().IsSpecial());
    EXPECT_TRUE(std::isnan(identityBounds.MinX().GetReal()));
    EXPECT_TRUE(std::isnan(identityBounds.MaxY().GetReal()));

    const DataValueRect web = p->GetWorldBounds();
    EXPECT_EQ(web.MinX().GetReal(), -20037508.342789244);
    EXPECT_EQ(web.Width(), 2 * 20037508.342789244);

    bool valid = false;
    DataValue minX, maxX, minY, maxY;
    p->GetDefaultExtent(valid, minX, maxX, minY, maxY);
    EXPECT_TRUE(valid);
    EXPECT_EQ(maxY.GetReal(), 20037508.342789244);
    SpatialProjector::IdentityFactory(kLon, kLat)->GetDefaultExtent(valid, minX, maxX, minY, maxY);
    EXPECT_TRUE(valid);
    EXPECT_EQ(minX.GetReal(), -180.0);
    SpatialProjector::AlbersFactory(kLon, kLat, QStringLiteral("a"), 0, 0, 20, 50, 6378206.44, 0.08)
        ->GetDefaultExtent(valid, minX, maxX, minY, maxY);
    EXPECT_TRUE(valid);

    // The bounding box cutoff is 400 metres of equator.
    EXPECT_EQ(SpatialProjector::IdentityFactory(kLon, kLat)->GetBoundingBoxCutoff(),
              0.0035932611364780853);
    EXPECT_NEAR(p->GetBoundingBoxCutoff(), 400.0, 1e-9);

    // Equality needs equal fields and projectors.
    const SpatialProjectorPtr mercator =
        SpatialProjector::MercatorFactory(kLon, kLat, QStringLiteral("x"), 0);
    const SpatialProjectorPtr otherField = SpatialProjector::WebMercatorFactory(
        FieldName(QStringLiteral("X")), kLat, QStringLiteral("EPSG:3857"));
    const SpatialProjectorPtr plate = SpatialProjector::PlateCarreeFactory(kLon, kLat);
    EXPECT_TRUE(p->IsEqual(*mercator));
    EXPECT_FALSE(p->IsEqual(*otherField));
    EXPECT_FALSE(p->IsEqual(*plate));
    EXPECT_FALSE(plate->IsEqual(*SpatialProjector::IdentityFactory(kLon, kLat)));

    const DataValue real = DataValue::Real(1.0);
    const DataValue code3 = DataValue::Special(3, DataType::String);
    const DataValue code4 = DataValue::Special(4, DataType::Real);
    EXPECT_TRUE(SpatialProjector::HaveSpecials(real, code3));
    EXPECT_FALSE(SpatialProjector::HaveSpecials(real, real));

    auto pair = SpatialProjector::MakeSpecialPair(code3, DataValue::Special(3, DataType::Real));
    EXPECT_EQ(pair.first, DataValue::Special(3, DataType::String));
    EXPECT_EQ(pair.second, DataValue::Special(3, DataType::Real));
    pair = SpatialProjector::MakeSpecialPair(real, code4);
    EXPECT_EQ(pair.first, DataValue::Special(4, DataType::Real));
    EXPECT_EQ(pair.second, code4);
    pair = SpatialProjector::MakeSpecialPair(code3, real);
    EXPECT_EQ(pair.second, DataValue::Special(3, DataType::Real));
    pair = SpatialProjector::MakeSpecialPair(code3, code4);
    EXPECT_EQ(pair.first, DataValue::Special(SpecialCode::Null, DataType::String));
    EXPECT_EQ(pair.second, DataValue::Special(SpecialCode::Null, DataType::Real));
}

TEST(SpatialProjector, SpecialValuesPassThroughAndInverseReportsSpecialsAndNaN) {
    const SpatialProjectorPtr p = WebMercator();
    const DataValue nullReal = DataValue::Special(SpecialCode::Null, DataType::Real);
    const DataValue otherSpecial = DataValue::Special(5, DataType::String);
    const DataValue ten = DataValue::Real(10.0);

    EXPECT_EQ(p->GetX(nullReal), nullReal);
    EXPECT_EQ(p->GetY(otherSpecial), otherSpecial);
    EXPECT_EQ(p->GetInverseOfX(nullReal), nullReal);
    EXPECT_EQ(p->GetInverseOfY(nullReal), nullReal);
    EXPECT_EQ(p->GetX(ten).GetReal(), p->GetX(10.0));
    EXPECT_EQ(p->GetX(DataValue::String(QStringLiteral("10"))).GetReal(), p->GetX(10.0));
    EXPECT_TRUE(std::isnan(p->GetYScaleAtPoint(nullReal, ten)));
    EXPECT_EQ(p->GetYScaleAtPoint(DataValue::Real(0), DataValue::Real(0)), 1.0);

    const auto xy = p->GetXY(ten, ten);
    EXPECT_EQ(xy.first.GetReal(), p->GetXY(10.0, 10.0).first);
    const auto specialXY = p->GetXY(nullReal, ten);
    EXPECT_EQ(specialXY.first, nullReal);
    EXPECT_EQ(specialXY.second, DataValue::Special(SpecialCode::Null, DataType::Real));

    DataValue u, v;
    const DataValue y = DataValue::Real(0.0);
    EXPECT_FALSE(p->GetInverseOfXY(nullReal, y, u, v));
    EXPECT_EQ(u, nullReal);
    // y is not special, so v takes its (zero) special code and its data type.
    EXPECT_TRUE(v.IsSpecial());
    EXPECT_EQ(v.GetSpecialCode(), SpecialCode::NotSpecial);
    EXPECT_EQ(v.GetDataType(), DataType::Real);

    EXPECT_TRUE(p->GetInverseOfXY(DataValue::Real(0.0), y, u, v));
    EXPECT_EQ(u.GetReal(), 0.0);
    EXPECT_FALSE(p->GetInverseOfXY(DataValue::Real(kNaN), y, u, v));
    EXPECT_EQ(u, nullReal);
    EXPECT_EQ(v, nullReal);
}

TEST(SpatialProjectorTransforms, ForwardKeepsWholeTurnsAndInverseFoldsXAndAddsThemBack) {
    const SpatialProjectorPtr p = WebMercator();
    const SpatialProjectorTransforms::Forward forward(*p);
    EXPECT_DOUBLE_EQ(forward(180, 0).first, 1.0);
    EXPECT_EQ(forward(-180, 0).first, 0.0);
    EXPECT_DOUBLE_EQ(forward(0, 90).second, 1.0);
    EXPECT_EQ(forward(0, -90).second, 0.0);
    EXPECT_NEAR(forward(0, 0).second, 0.5, 1e-15);

    // Albers does not wrap: no turns are added, and its NaN world gives NaN.
    const SpatialProjectorPtr albers = SpatialProjector::AlbersFactory(
        kLon, kLat, QStringLiteral("a"), -96, 23, 29.5, 45.5, 6378206.44, 0.0822718542230038);
    EXPECT_TRUE(std::isnan(SpatialProjectorTransforms::Forward(*albers)(190, 40).first));
    const SpatialProjectorPtr identity = SpatialProjector::IdentityFactory(kLon, kLat);
    EXPECT_TRUE(std::isnan(SpatialProjectorTransforms::Forward(*identity)(10, 10).first));

    const SpatialProjectorTransforms::Inverse inverse(*p);
    EXPECT_NEAR(inverse(1.5, 0.5).first, inverse(0.5, 0.5).first + 360.0, 1e-9);
    EXPECT_NEAR(inverse(-0.25, 0.5).first, -270.0, 1e-9);
    EXPECT_NEAR(inverse(0.75, 0.5).first, 90.0, 1e-9);
    EXPECT_EQ(inverse(1.0, 1.0).first, 180.0);
    EXPECT_NEAR(inverse(0.5, 1.0).second, 85.0511287798066, 1e-9);

    // Every wrapping world counts a whole turn once, whether or not its projector folds
    // longitudes itself (the cylindrical equal-area ones do not).
    for (const SpatialProjectorPtr& wrapping : EveryProjector()) {
        if (!wrapping->DoesWrap() || std::isnan(wrapping->GetWorldBounds().Width())) {
            continue;
        }
        SCOPED_TRACE(ToUtf8(wrapping->GetName()));
        const SpatialProjectorTransforms::Forward toUnit(*wrapping);
        const SpatialProjectorTransforms::Inverse fromUnit(*wrapping);
        EXPECT_NEAR(toUnit(190, 0).first, toUnit(-170, 0).first + 1.0, 1e-12);
        for (const double lon : {-539.0, -181.0, -10.0, 0.0, 179.0, 181.0, 1000.5}) {
            const auto unit = toUnit(lon, 33.0);
            const auto back = fromUnit(unit.first, unit.second);
            EXPECT_NEAR(back.first, lon, 1e-9);
            EXPECT_NEAR(back.second, 33.0, 1e-9);
        }
    }

    // Non-finite and absurdly far X values come back without hanging.
    EXPECT_TRUE(std::isnan(inverse(kNaN, 0.5).first));
    EXPECT_TRUE(std::isnan(inverse(kInf, 0.5).first));
    EXPECT_FALSE(std::isnan(inverse(1e200, 0.5).second));

    // A plate carree world folds the same way: x = 2.25 is -90 degrees two turns on.
    const SpatialProjectorPtr plate = SpatialProjector::PlateCarreeFactory(kLon, kLat);
    EXPECT_DOUBLE_EQ(SpatialProjectorTransforms::Inverse(*plate)(2.25, 0.5).first, -90.0 + 720.0);
}
