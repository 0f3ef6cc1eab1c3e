#pragma once
// PROJ as the reference for the projections under test: longitude/latitude in degrees in, the
// projection's plane units out, and back.

#include <gtest/gtest.h>
#include <proj.h>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <lmxmaps/MapProjector.h>

class ProjOracle {
public:
    // definition: the projection step of a PROJ string, e.g. "+proj=merc +R=6378137"; degrees
    // are converted to radians in front of it.
    explicit ProjOracle(const std::string& definition)
        : m_pj(proj_create(nullptr, ("+proj=pipeline +step +proj=unitconvert +xy_in=deg "
                                     "+xy_out=rad +step " +
                                     definition)
                                        .c_str())) {
        if (m_pj == nullptr) {
            throw std::runtime_error("PROJ rejected " + definition);
        }
    }
    ProjOracle(const ProjOracle&) = delete;
    ProjOracle& operator=(const ProjOracle&) = delete;
    ~ProjOracle() { proj_destroy(m_pj); }

    std::pair<double, double> Forward(double lon, double lat) const {
        return Transform(PJ_FWD, lon, lat);
    }
    std::pair<double, double> Inverse(double x, double y) const { return Transform(PJ_INV, x, y); }

private:
    std::pair<double, double> Transform(PJ_DIRECTION direction, double a, double b) const {
        const PJ_COORD result = proj_trans(m_pj, direction, proj_coord(a, b, 0.0, 0.0));
        return {result.xy.x, result.xy.y};
    }

    PJ* m_pj;
};

// Checks a projector against PROJ on every point: the forward projection within planeTolerance
// of PROJ's, and the inverse of PROJ's plane point within angleTolerance of PROJ's inverse.
// Call it under ASSERT_NO_FATAL_FAILURE: it stops at the first point that disagrees.
inline void ExpectAgreesWithProj(const MapProjector& projector, const ProjOracle& proj,
                                 const std::vector<std::pair<double, double>>& points,
                                 double planeTolerance, double angleTolerance) {
    for (const auto& [lon, lat] : points) {
        const XYPair xy = projector.GetXY(lon, lat);
        const auto expected = proj.Forward(lon, lat);
        ASSERT_NEAR(xy.first, expected.first, planeTolerance) << lon << " " << lat;
        ASSERT_NEAR(xy.second, expected.second, planeTolerance) << lon << " " << lat;

        const XYPair back = projector.GetInverseOfXY(expected.first, expected.second);
        const auto expectedBack = proj.Inverse(expected.first, expected.second);
        ASSERT_NEAR(back.first, expectedBack.first, angleTolerance) << lon << " " << lat;
        ASSERT_NEAR(back.second, expectedBack.second, angleTolerance) << lon << " " << lat;
    }
}
