#include <algorithm>
#include <cmath>
#include <cstdint>

#include <lmxmaps/NelderMead.h>
#include <lmxmaps/host/LumivexException.h>

namespace NelderMead {

namespace {

// Log-site ids of the assertions, one for each site.
constexpr std::uint32_t kAxisBeyondDimensionAssert = 0x4C4D4E01;
constexpr std::uint32_t kAddedDimensionAssert = 0x4C4D4E02;
constexpr std::uint32_t kSubtractedDimensionAssert = 0x4C4D4E03;
constexpr std::uint32_t kL2DistDimensionAssert = 0x4C4D4E04;
constexpr std::uint32_t kLinfDistDimensionAssert = 0x4C4D4E05;
constexpr std::uint32_t kComparedDimensionAssert = 0x4C4D4E06;
constexpr std::uint32_t kTooFewDimensionsAssert = 0x4C4D4E07;
constexpr std::uint32_t kGetVertexIndexAssert = 0x4C4D4E08;
constexpr std::uint32_t kSetVertexIndexAssert = 0x4C4D4E09;

} // namespace

Vertex::Vertex(std::vector<double> coordinates) : m_data(std::move(coordinates)) {}

Vertex::Vertex(double x, double y) : m_data{x, y} {}

Vertex::Vertex(double x, double y, double z) : m_data{x, y, z} {}

Vertex::Vertex(double value, std::size_t n, std::size_t i) : m_data(n, 0.0) {
    LMX_LOGIC_ASSERT_ID(i < n, kAxisBeyondDimensionAssert);
    m_data[i] = value;
}

Vertex::Vertex(const Vertex& other) : m_data(other.m_data), m_value(other.m_value) {}

Vertex::Vertex(Vertex&& other) noexcept : m_data(std::move(other.m_data)), m_value(other.m_value) {}

Vertex& Vertex::operator=(const Vertex& other) {
    m_data = other.m_data;
    m_value = other.m_value;
    m_dirty = true;
    return *this;
}

Vertex& Vertex::operator=(Vertex&& other) noexcept {
    m_data = std::move(other.m_data);
    m_value = other.m_value;
    m_dirty = true;
    return *this;
}

double& Vertex::operator[](std::size_t i) {
    m_dirty = true;
    return m_data[i];
}

Vertex Vertex::operator+(const Vertex& other) const {
    Vertex sum(*this);
    sum += other;
    return sum;
}

Vertex Vertex::operator-(const Vertex& other) const {
    Vertex difference(*this);
    difference -= other;
    return difference;
}

Vertex Vertex::operator*(double factor) const {
    Vertex product(*this);
    product *= factor;
    return product;
}

Vertex& Vertex::operator+=(const Vertex& other) {
    LMX_LOGIC_ASSERT_ID(m_data.size() == other.m_data.size(), kAddedDimensionAssert);
    for (std::size_t i = 0; i < m_data.size(); ++i) {
        m_data[i] += other.m_data[i];
    }
    m_dirty = true;
    return *this;
}

Vertex& Vertex::operator-=(const Vertex& other) {
    LMX_LOGIC_ASSERT_ID(m_data.size() == other.m_data.size(), kSubtractedDimensionAssert);
    for (std::size_t i = 0; i < m_data.size(); ++i) {
        m_data[i] -= other.m_data[i];
    }
    m_dirty = true;
    return *this;
}

Vertex& Vertex::operator*=(double factor) {
    for (double& coordinate : m_data) {
        coordinate *= factor;
    }
    m_dirty = true;
    return *this;
}

double Vertex::Evaluate(const ObjectiveFunction& objective) {
    if (m_dirty) {
        m_value = objective(*this);
        m_dirty = false;
    }
    return m_value;
}

double Vertex::L2Dist(const Vertex& other) const {
    LMX_LOGIC_ASSERT_ID(m_data.size() == other.m_data.size(), kL2DistDimensionAssert);
    double sum = 0.0;
    for (std::size_t i = 0; i < m_data.size(); ++i) {
        const double d = m_data[i] - other.m_data[i];
        sum += d * d;
    }
    return std::sqrt(sum);
}

double Vertex::LinfDist(const Vertex& other) const {
    LMX_LOGIC_ASSERT_ID(m_data.size() == other.m_data.size(), kLinfDistDimensionAssert);
    double largest = 0.0;
    for (std::size_t i = 0; i < m_data.size(); ++i) {
        largest = std::max(largest, std::fabs(m_data[i] - other.m_data[i]));
    }
    return std::sqrt(largest);
}

bool Vertex::LessByValue(const Vertex& i, const Vertex& j) {
    LMX_LOGIC_ASSERT_ID(i.m_data.size() == j.m_data.size(), kComparedDimensionAssert);
    // NaN sorts last so that a failed evaluation never counts as the best.
    return i.m_value < j.m_value || (!std::isnan(i.m_value) && std::isnan(j.m_value));
}

Simplex::Simplex(const Vertex& start, double step, const ObjectiveFunction& objective, double alpha,
                 double rho, double gamma, double sigma, std::uint64_t maxLoops)
    : m_objective(&objective), m_alpha(alpha), m_rho(rho), m_gamma(gamma), m_sigma(sigma),
      m_maxLoops(maxLoops) {
    const std::size_t n = start.Dim();
    LMX_LOGIC_ASSERT_ID(n >= 2, kTooFewDimensionsAssert);
    m_V.reserve(n + 1);
    m_V.push_back(start);
    for (std::size_t i = 0; i < n; ++i) {
        m_V.push_back(start + Vertex(step, n, i));
    }
}

const Vertex& Simplex::GetVertex(std::size_t i) const {
    LMX_LOGIC_ASSERT_ID(i < m_V.size(), kGetVertexIndexAssert);
    return m_V[i];
}

void Simplex::SetVertex(std::size_t i, const Vertex& vertex) {
    LMX_LOGIC_ASSERT_ID(i < m_V.size(), kSetVertexIndexAssert);
    m_V[i] = vertex;
}

Vertex Simplex::Solve(double tolerance, double* bestValue) {
    Sort();
    for (std::uint64_t k = 0;; ++k) {
        if (!(m_V.front().LinfDist(m_V.back()) > tolerance) || k >= m_maxLoops) {
            if (bestValue != nullptr) {
                *bestValue = F(0);
            }
            return m_V.front();
        }
        Sort();
        const Vertex centre = CoG1stn();
        Vertex reflected = Reflection(centre);
        const double fr = F(reflected);
        const double fb = F(0);
        const double fs = F(m_V.size() - 2);
        if (fb < fr && fr < fs) {
            m_V.back() = reflected;
        } else if (fr < fb) {
            Vertex expanded = Expansion(centre, reflected);
            m_V.back() = F(expanded) < fr ? expanded : reflected;
        } else if (fr >= fs && F(m_V.size() - 1) > fr) {
            Vertex contracted = Contraction(centre);
            if (F(contracted) <= fr) {
                m_V.back() = contracted;
            } else {
                Shrink();
            }
        } else {
            Shrink();
        }
    }
}

void Simplex::Sort() {
    for (Vertex& vertex : m_V) {
        F(vertex);
    }
    std::sort(m_V.begin(), m_V.end(), Vertex::LessByValue);
}

Vertex Simplex::CoG1stn() const {
    Vertex sum(std::vector<double>(m_V.front().Dim(), 0.0));
    for (std::size_t i = 0; i + 1 < m_V.size(); ++i) {
        sum += m_V[i];
    }
    return sum * (1.0 / static_cast<double>(m_V.size() - 1));
}

Vertex Simplex::Reflection(const Vertex& centre) const {
    return centre * (1.0 + m_alpha) - m_V.back() * m_alpha;
}

Vertex Simplex::Expansion(const Vertex& centre, const Vertex& reflected) const {
    return reflected * m_rho + centre * (1.0 - m_rho);
}

Vertex Simplex::Contraction(const Vertex& centre) const {
    return centre * (1.0 + m_gamma) - m_V.back() * m_gamma;
}

void Simplex::Shrink() {
    const Vertex best = m_V.front();
    for (std::size_t i = 1; i < m_V.size(); ++i) {
        m_V[i] = best + (m_V[i] - best) * m_sigma;
    }
}

double Simplex::F(Vertex& vertex) {
    return vertex.Evaluate(*m_objective);
}

double Simplex::F(std::size_t i) {
    return F(m_V[i]);
}

} // namespace NelderMead
