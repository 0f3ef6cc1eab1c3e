#include <cmath>
#include <limits>
#include <utility>

#include <lmxmaps/host/Geodesy.h>

namespace lmxgeo {

namespace {

constexpr double kDegreesToRadians = M_PI / 180.0;
constexpr double kRadiansToDegrees = 180.0 / M_PI;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct Vector3 {
    double x;
    double y;
    double z;
};

Vector3 Cross(const Vector3& a, const Vector3& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

double Dot(const Vector3& a, const Vector3& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

double Norm(const Vector3& a) {
    return std::sqrt(Dot(a, a));
}

// The two end points as unit vectors in a frame turned so that the first point lies on the
// meridian of longitude 0: the first point's whole turns and the rounding of large longitudes
// stay out of the trigonometry.
struct ArcFrame {
    Vector3 p1;
    Vector3 p2;
};

ArcFrame MakeFrame(double latitude1, double latitude2, double deltaLongitude) {
    const double phi1 = latitude1 * kDegreesToRadians;
    const double phi2 = latitude2 * kDegreesToRadians;
    const double lambda = deltaLongitude * kDegreesToRadians;
    const double cosPhi2 = std::cos(phi2);
    return {{std::cos(phi1), 0.0, std::sin(phi1)},
            {cosPhi2 * std::cos(lambda), cosPhi2 * std::sin(lambda), std::sin(phi2)}};
}

// (longitude relative to the frame's meridian 0, latitude) of a non-zero vector, in degrees.
XY ToLongitudeLatitude(const Vector3& v) {
    return {std::atan2(v.y, v.x) * kRadiansToDegrees,
            std::atan2(v.z, std::sqrt(v.x * v.x + v.y * v.y)) * kRadiansToDegrees};
}

// Below this squared length the sum of two unit vectors is treated as zero (antipodal points).
constexpr double kAntipodalSquaredSum = 1e-24;
// Below this sine of the arc's angle the points have no unique great circle for t != 0.5.
constexpr double kDegenerateSine = 1e-12;

} // namespace

PointOnEllipticArc::PointOnEllipticArc(double latitude1, double longitude1, double latitude2,
                                       double longitude2)
    : m_latitude1(latitude1), m_longitude1(longitude1), m_latitude2(latitude2),
      m_longitude2(longitude2) {}

XY PointOnEllipticArc::Parametric(double t) const {
    const ArcFrame frame = MakeFrame(m_latitude1, m_latitude2, m_longitude2 - m_longitude1);
    const auto halfway = [&] {
        return XY{m_longitude1 + t * (m_longitude2 - m_longitude1),
                  m_latitude1 + t * (m_latitude2 - m_latitude1)};
    };
    Vector3 point;
    if (t == 0.5) {
        // The midpoint of a great arc is the normalized sum of its end vectors (the atan2 calls
        // below need no normalization).
        point = {frame.p1.x + frame.p2.x, frame.p1.y + frame.p2.y, frame.p1.z + frame.p2.z};
        if (Dot(point, point) < kAntipodalSquaredSum) {
            return halfway();
        }
    } else {
        const double sine = Norm(Cross(frame.p1, frame.p2));
        const double cosine = Dot(frame.p1, frame.p2);
        if (sine < kDegenerateSine) {
            // The same point (or both at one pole, where interpolating keeps the longitude
            // meaningful), or antipodal points with no unique great circle.
            return halfway();
        }
        const double omega = std::atan2(sine, cosine);
        const double a = std::sin((1.0 - t) * omega) / sine;
        const double b = std::sin(t * omega) / sine;
        point = {a * frame.p1.x + b * frame.p2.x, a * frame.p1.y + b * frame.p2.y,
                 a * frame.p1.z + b * frame.p2.z};
    }
    const XY relative = ToLongitudeLatitude(point);
    return {m_longitude1 + relative.x, relative.y};
}

SpherePoint SpherePoint::FromDegrees(double latitude, double longitude) {
    const double phi = latitude * kDegreesToRadians;
    const double lambda = longitude * kDegreesToRadians;
    const double cosPhi = std::cos(phi);
    return {latitude, longitude, cosPhi * std::cos(lambda), cosPhi * std::sin(lambda),
            std::sin(phi)};
}

SpherePoint PointOnEllipticArc::Midpoint(const SpherePoint& first, const SpherePoint& second) {
    const Vector3 sum{first.x + second.x, first.y + second.y, first.z + second.z};
    const double length2 = Dot(sum, sum);
    if (length2 < kAntipodalSquaredSum) {
        const XY halfway =
            PointOnEllipticArc(first.latitude, first.longitude, second.latitude, second.longitude)
                .Parametric(0.5);
        return SpherePoint::FromDegrees(halfway.y, halfway.x);
    }
    const XY middle = ToLongitudeLatitude(sum);
    // Within half a turn of the first point's longitude, its whole turns kept.
    const double longitude =
        middle.x + 360.0 * std::round((first.longitude - middle.x) * (1.0 / 360.0));
    const double inverseLength = 1.0 / std::sqrt(length2);
    return {middle.y, longitude, sum.x * inverseLength, sum.y * inverseLength,
            sum.z * inverseLength};
}

double PointOnEllipticArc::LatitudeAtLongitude(double longitude) const {
    const ArcFrame frame = MakeFrame(m_latitude1, m_latitude2, m_longitude2 - m_longitude1);
    const Vector3 normal = Cross(frame.p1, frame.p2);
    const double normalLength = Norm(normal);
    if (!(normalLength > kDegenerateSine)) {
        return kNaN;
    }
    const double lambda = (longitude - m_longitude1) * kDegreesToRadians;
    const double cosLambda = std::cos(lambda);
    const double sinLambda = std::sin(lambda);
    // A point (cos(phi) cos(lambda), cos(phi) sin(lambda), sin(phi)) is on the great circle when
    // its dot product with the normal is 0: cos(phi) * a + sin(phi) * normal.z = 0.
    const double a = normal.x * cosLambda + normal.y * sinLambda;
    const double epsilon = 1e-12 * normalLength;
    if (std::fabs(a) <= epsilon && std::fabs(normal.z) <= epsilon) {
        return kNaN; // the great circle is this meridian
    }
    double candidates[2];
    int count = 0;
    if (std::fabs(normal.z) > epsilon) {
        candidates[count++] = std::atan(-a / normal.z);
    } else {
        // The circle runs through both poles; on this meridian it has only them.
        candidates[count++] = M_PI / 2.0;
        candidates[count++] = -M_PI / 2.0;
    }
    for (int i = 0; i < count; ++i) {
        const double phi = candidates[i];
        const double cosPhi = std::cos(phi);
        const Vector3 q{cosPhi * cosLambda, cosPhi * sinLambda, std::sin(phi)};
        // q is on the shorter arc when it lies after p1 and before p2 along the circle.
        if (Dot(Cross(frame.p1, q), normal) >= -epsilon &&
            Dot(Cross(q, frame.p2), normal) >= -epsilon) {
            return phi * kRadiansToDegrees;
        }
    }
    return kNaN;
}

namespace {

class DouglasPeuckerGeneralizer final : public Generalizer {
public:
    void Generalize(const PointArrayAccessAdapter& path, std::vector<bool>& keep,
                    double tolerance) const override {
        const std::size_t count = path.Count();
        if (count == 0) {
            return;
        }
        keep[0] = true;
        keep[count - 1] = true;
        if (count <= 2) {
            return;
        }
        const double tolerance2 = tolerance * tolerance;
        std::vector<std::pair<std::size_t, std::size_t>> stack;
        stack.emplace_back(0, count - 1);
        while (!stack.empty()) {
            const auto [first, last] = stack.back();
            stack.pop_back();
            if (last <= first + 1) {
                continue;
            }
            const XY& a = path[first];
            const XY& b = path[last];
            // Distances to the segment (a, b) compared times its squared length, which spares
            // a division per point: in the middle the squared cross product, beyond an end the
            // squared distance to that end times the squared length.
            const double dx = b.x - a.x;
            const double dy = b.y - a.y;
            const double length2 = dx * dx + dy * dy;
            double farthest2 = -1.0;
            std::size_t farthest = first;
            if (length2 == 0.0) {
                // A closed ring's ends: distances to the point.
                for (std::size_t i = first + 1; i < last; ++i) {
                    const double px = path[i].x - a.x;
                    const double py = path[i].y - a.y;
                    const double distance2 = px * px + py * py;
                    if (distance2 > farthest2) {
                        farthest2 = distance2;
                        farthest = i;
                    }
                }
            } else {
                for (std::size_t i = first + 1; i < last; ++i) {
                    const double px = path[i].x - a.x;
                    const double py = path[i].y - a.y;
                    const double along = px * dx + py * dy;
                    double scaled2;
                    if (along <= 0.0) {
                        scaled2 = (px * px + py * py) * length2;
                    } else if (along >= length2) {
                        const double qx = path[i].x - b.x;
                        const double qy = path[i].y - b.y;
                        scaled2 = (qx * qx + qy * qy) * length2;
                    } else {
                        const double cross = px * dy - py * dx;
                        scaled2 = cross * cross;
                    }
                    if (scaled2 > farthest2) {
                        farthest2 = scaled2;
                        farthest = i;
                    }
                }
                farthest2 /= length2;
            }
            // A NaN coordinate compares false: its stretch keeps only its ends.
            if (farthest2 > tolerance2) {
                keep[farthest] = true;
                stack.emplace_back(farthest, last);
                stack.emplace_back(first, farthest);
            }
        }
    }
};

} // namespace

std::unique_ptr<Generalizer> MakeDouglasPeuckerGeneralizer() {
    return std::make_unique<DouglasPeuckerGeneralizer>();
}

} // namespace lmxgeo
