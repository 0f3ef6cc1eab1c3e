#include <lmxmaps/MapProjector.h>

MapExtent MapProjector::ProjectWorldCorners() const {
    const XYPair low = GetXY(-180.0, -90.0);
    const XYPair high = GetXY(180.0, 90.0);
    return {low.first, high.first, low.second, high.second};
}

void MapProjector::CheckArrayLengths(std::size_t a, std::size_t b, std::size_t c, std::size_t d) {
    LMX_LOGIC_ASSERT_ID(a == b && a == c && a == d, 0x50524A31);
}

void MapProjector::GetXYArray(std::span<const double> u, std::span<const double> v,
                              std::span<double> x, std::span<double> y) const {
    CheckArrayLengths(u.size(), v.size(), x.size(), y.size());
    for (std::size_t i = 0; i < u.size(); ++i) {
        const XYPair xy = GetXY(u[i], v[i]);
        x[i] = xy.first;
        y[i] = xy.second;
    }
}

void MapProjector::GetInverseOfXYArray(std::span<const double> x, std::span<const double> y,
                                       std::span<double> u, std::span<double> v) const {
    CheckArrayLengths(x.size(), y.size(), u.size(), v.size());
    for (std::size_t i = 0; i < x.size(); ++i) {
        const XYPair uv = GetInverseOfXY(x[i], y[i]);
        u[i] = uv.first;
        v[i] = uv.second;
    }
}

MapProjectorException::MapProjectorException(ErrorCases errorCase, TString message,
                                             TError::ErrorInfo errorInfo)
    : LumivexException(std::move(message), std::move(errorInfo)), m_errorCase(errorCase) {}

std::unique_ptr<LumivexException> MapProjectorException::Clone() const {
    return std::make_unique<MapProjectorException>(*this);
}

void MapProjectorException::Throw() const {
    throw MapProjectorException(*this);
}
