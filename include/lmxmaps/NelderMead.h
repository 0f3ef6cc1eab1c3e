#pragma once
// A small Nelder-Mead downhill-simplex minimiser.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace NelderMead {

class ObjectiveFunction;

// Coordinates of a candidate, plus the objective value last computed for them. Changing any
// coordinate (non-const operator[] counts) makes that value stale.
class Vertex {
public:
    explicit Vertex(std::vector<double> coordinates);
    Vertex(double x, double y);
    Vertex(double x, double y, double z);
    // n coordinates, all 0 except coordinate i, which is value.
    Vertex(double value, std::size_t n, std::size_t i);
    Vertex(const Vertex& other);
    Vertex(Vertex&& other) noexcept;
    Vertex& operator=(const Vertex& other);
    Vertex& operator=(Vertex&& other) noexcept;

    double operator[](std::size_t i) const { return m_data[i]; }
    double& operator[](std::size_t i);
    std::size_t Dim() const { return m_data.size(); }

    Vertex operator+(const Vertex& other) const;
    Vertex operator-(const Vertex& other) const;
    Vertex operator*(double factor) const;
    Vertex& operator+=(const Vertex& other);
    Vertex& operator-=(const Vertex& other);
    Vertex& operator*=(double factor);

    // The memo when it is current; otherwise the objective's value, remembered.
    double Evaluate(const ObjectiveFunction& objective);

    double L2Dist(const Vertex& other) const;
    // sqrt(max_i |a_i - b_i|): note the root, which callers' tolerances assume.
    double LinfDist(const Vertex& other) const;

    // Orders by memo value; both vertices must have one dimension.
    static bool LessByValue(const Vertex& i, const Vertex& j);

private:
    std::vector<double> m_data;
    double m_value = 0.0;
    bool m_dirty = true;
};

class ObjectiveFunction {
public:
    ObjectiveFunction() = default;
    ObjectiveFunction(const ObjectiveFunction&) = default;
    ObjectiveFunction& operator=(const ObjectiveFunction&) = default;
    virtual ~ObjectiveFunction() = default;

    virtual double operator()(const Vertex& vertex) const = 0;
};

class Simplex {
public:
    // Initial vertices: start, and start moved by step along each axis in turn. objective is
    // borrowed; keep it alive while the simplex is used.
    Simplex(const Vertex& start, double step, const ObjectiveFunction& objective, double alpha,
            double rho, double gamma, double sigma, std::uint64_t maxLoops);

    void SetAlpha(double alpha) { m_alpha = alpha; }
    void SetRho(double rho) { m_rho = rho; }
    void SetGamma(double gamma) { m_gamma = gamma; }
    void SetSigma(double sigma) { m_sigma = sigma; }
    void SetMaxLoop(std::uint64_t maxLoops) { m_maxLoops = maxLoops; }

    const Vertex& GetVertex(std::size_t i) const;
    void SetVertex(std::size_t i, const Vertex& vertex);

    // Iterates until LinfDist between best and worst vertex is at most tolerance, or maxLoops
    // iterations ran. Returns the best vertex; bestValue, if non-null, receives its value.
    Vertex Solve(double tolerance, double* bestValue = nullptr);

private:
    void Sort();
    Vertex CoG1stn() const;
    Vertex Reflection(const Vertex& centre) const;
    Vertex Expansion(const Vertex& centre, const Vertex& reflected) const;
    Vertex Contraction(const Vertex& centre) const;
    void Shrink();
    double F(Vertex& vertex);
    double F(std::size_t i);

    std::vector<Vertex> m_V;
    const ObjectiveFunction* m_objective;
    double m_alpha;
    double m_rho;
    double m_gamma;
    double m_sigma;
    std::uint64_t m_maxLoops;
};

} // namespace NelderMead
