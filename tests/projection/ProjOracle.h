#pragma once
// PROJ as the reference for the projections under test: longitude/latitude in degrees in, the
// projection's plane units out, and back.

#include <proj.h>
#include <stdexcept>
#include <string>
#include <utility>

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
