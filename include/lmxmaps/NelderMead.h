#pragma once
// A small Nelder-Mead downhill-simplex minimiser.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace NelderMead {

class ObjectiveFunction;

// A point in n-dimensional space with a memo of its objective value. Any change of the
// coordinates (including non-const element access) marks the memo stale.
class Vertex {
public:
    explicit Vertex(std::vector<double> coordinates);
    Vertex(double x, double y);
    Vertex(double x, double y, double z);
    // The n-dimensional point that is value on axis i and 0 elsewhere.
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
    // The square root of the largest absolute coordinate difference.
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
    // The first simplex is start and its n neighbours one step along each axis. The objective
    // is not owned and must outlive the simplex.
    Simplex(const Vertex& start, double step, const ObjectiveFunction& objective, double alpha,
            double rho, double gamma, double sigma, std::uint64_t maxLoops);

    void SetAlpha(double alpha) { m_alpha = alpha; }
    void SetRho(double rho) { m_rho = rho; }
    void SetGamma(double gamma) { m_gamma = gamma; }
    void SetSigma(double sigma) { m_sigma = sigma; }
    void SetMaxLoop(std::uint64_t maxLoops) { m_maxLoops = maxLoops; }

    const Vertex& GetVertex(std::size_t i) const;
    void SetVertex(std::size_t i, const Vertex& vertex);

    // Runs until the best and worst vertices differ by no more than tolerance (as LinfDist) or
    // the loop limit is reached; returns the best vertex and, when asked, its value.
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
