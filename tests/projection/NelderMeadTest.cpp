#include <cmath>
#include <gtest/gtest.h>
#include <set>

#include <lmxmaps/NelderMead.h>
#include <lmxmaps/host/LumivexException.h>

using NelderMead::ObjectiveFunction;
using NelderMead::Simplex;
using NelderMead::Vertex;

namespace {

// Counts its evaluations so tests can see the memo at work.
class Rosenbrock : public ObjectiveFunction {
public:
    double operator()(const Vertex& v) const override {
        ++m_calls;
        const double a = 1.0 - v[0];
        const double b = v[1] - v[0] * v[0];
        return a * a + 100.0 * b * b;
    }
    int Calls() const { return m_calls; }

private:
    mutable int m_calls = 0;
};

class Cone3 : public ObjectiveFunction {
public:
    double operator()(const Vertex& v) const override {
        return std::sqrt((v[0] - 1) * (v[0] - 1) + (v[1] + 2) * (v[1] + 2) +
                         (v[2] - 0.5) * (v[2] - 0.5));
    }
};

} // namespace

TEST(NelderMeadVertex, ArithmeticDistancesDimensionMismatchesAndEvaluationThatRemembers) {
    const Vertex a(1.0, 2.0);
    const Vertex b(4.0, -2.0);
    const Vertex sum = a + b;
    EXPECT_EQ(sum[0], 5.0);
    EXPECT_EQ(sum[1], 0.0);
    const Vertex scaled = (b - a) * 0.5;
    EXPECT_EQ(scaled[0], 1.5);
    EXPECT_EQ(scaled[1], -2.0);
    EXPECT_EQ(a.L2Dist(b), 5.0);
    // The largest coordinate difference is 4; its square root is 2.
    EXPECT_EQ(a.LinfDist(b), 2.0);

    const Vertex unit(2.5, std::size_t{4}, std::size_t{3});
    EXPECT_EQ(unit.Dim(), 4u);
    EXPECT_EQ(unit[3], 2.5);
    EXPECT_EQ(unit[0] + unit[1] + unit[2], 0.0);

    const Rosenbrock f;
    Vertex v(0.0, 0.0);
    EXPECT_EQ(v.Evaluate(f), 1.0);
    EXPECT_EQ(v.Evaluate(f), 1.0);
    EXPECT_EQ(f.Calls(), 1);
    v[1] = 1.0;
    EXPECT_EQ(v.Evaluate(f), 101.0);
    EXPECT_EQ(f.Calls(), 2);
    v *= 2.0;
    v.Evaluate(f);
    EXPECT_EQ(f.Calls(), 3);
    Vertex copy(v);
    copy.Evaluate(f);
    EXPECT_EQ(f.Calls(), 4);
}

TEST(NelderMeadSimplex, ConstructionVertexAccessAndZeroLoopsReturningTheBestStartingVertex) {
    const Rosenbrock f;
    Simplex simplex(Vertex(1.0, 2.0), 0.25, f, 1, 2, 0.5, 0.5, 10);
    EXPECT_EQ(simplex.GetVertex(0)[0], 1.0);
    EXPECT_EQ(simplex.GetVertex(1)[0], 1.25);
    EXPECT_EQ(simplex.GetVertex(1)[1], 2.0);
    EXPECT_EQ(simplex.GetVertex(2)[0], 1.0);
    EXPECT_EQ(simplex.GetVertex(2)[1], 2.25);
    simplex.SetVertex(2, Vertex(1.0, 1.0));
    EXPECT_EQ(simplex.GetVertex(2)[1], 1.0);

    // Values: start (0, 0) -> 1, (0.5, 0) -> 6.5, (0, 0.5) -> 26; the best is the start.
    Simplex unlooped(Vertex(0.0, 0.0), 0.5, f, 1, 2, 0.5, 0.5, 0);
    double unloopedBest = -1.0;
    const Vertex bestStart = unlooped.Solve(1e-8, &unloopedBest);
    EXPECT_EQ(bestStart[0], 0.0);
    EXPECT_EQ(bestStart[1], 0.0);
    EXPECT_EQ(unloopedBest, 1.0);

    // Here a neighbour is better than the start, and the sort finds it.
    Simplex shifted(Vertex(-0.5, 0.0), 0.5, f, 1, 2, 0.5, 0.5, 0);
    const Vertex w = shifted.Solve(1e-8);
    EXPECT_EQ(w[0], 0.0);
    EXPECT_EQ(w[1], 0.0);
}

TEST(NelderMeadSimplex, FindsMinimaOfSmoothAndConicalFunctionsAndALooseToleranceStopsEarly) {
    const Rosenbrock rosenbrock;
    Simplex simplex(Vertex(-1.2, 1.0), 0.1, rosenbrock, 1.0, 2.0, 0.5, 0.5, 5000);
    double best = -1.0;
    const Vertex v = simplex.Solve(1e-8, &best);
    EXPECT_NEAR(v[0], 1.0, 1e-6);
    EXPECT_NEAR(v[1], 1.0, 1e-6);
    EXPECT_LT(best, 1e-12);

    const Cone3 cone;
    Simplex simplex3(Vertex(0.0, 0.0, 0.0), 0.1, cone, 1.0, 2.0, 0.5, 0.5, 5000);
    const Vertex m = simplex3.Solve(1e-6);
    EXPECT_NEAR(m[0], 1.0, 1e-9);
    EXPECT_NEAR(m[1], -2.0, 1e-9);
    EXPECT_NEAR(m[2], 0.5, 1e-9);

    const Rosenbrock tight;
    Simplex a(Vertex(-1.2, 1.0), 0.1, tight, 1.0, 2.0, 0.5, 0.5, 5000);
    a.Solve(1e-8);
    const Rosenbrock loose;
    Simplex b(Vertex(-1.2, 1.0), 0.1, loose, 1.0, 2.0, 0.5, 0.5, 5000);
    b.Solve(0.5);
    EXPECT_LT(loose.Calls(), tight.Calls());
}

TEST(NelderMead, EveryAssertionSiteNamesItsConditionWithAnIdOfItsOwn) {
    const Rosenbrock f;
    Vertex two(1.0, 2.0);
    const Vertex three(1.0, 2.0, 3.0);
    Simplex simplex(Vertex(1.0, 2.0), 0.25, f, 1, 2, 0.5, 0.5, 10);
    const char* const kSameSize = "m_data.size() == other.m_data.size()";
    const std::pair<std::function<void()>, const char*> sites[] = {
        {[&] { Vertex(1.0, std::size_t{2}, std::size_t{2}); }, "i < n"},
        {[&] { two += three; }, kSameSize},
        {[&] { two -= three; }, kSameSize},
        {[&] { two.L2Dist(three); }, nullptr},
        {[&] { two.LinfDist(three); }, nullptr},
        {[&] { Vertex::LessByValue(two, three); }, "i.m_data.size() == j.m_data.size()"},
        {[&] { Simplex(Vertex(std::vector<double>{1.0}), 0.1, f, 1, 2, 0.5, 0.5, 10); }, "n >= 2"},
        {[&] { simplex.GetVertex(3); }, "i < m_V.size()"},
        {[&] { simplex.SetVertex(3, Vertex(0.0, 0.0)); }, "i < m_V.size()"},
    };
    std::set<std::uint32_t> ids;
    for (std::size_t site = 0; site < std::size(sites); ++site) {
        SCOPED_TRACE("site " + std::to_string(site));
        try {
            sites[site].first();
            ADD_FAILURE() << "did not assert";
        } catch (const LogicException& e) {
            if (sites[site].second != nullptr) {
                EXPECT_EQ(e.GetCondition(), sites[site].second);
            }
            const std::uint32_t id = e.GetErrorInfo().id;
            EXPECT_NE(id, kUnnumberedAssertId);
            EXPECT_TRUE(ids.insert(id).second) << "shares its id";
            EXPECT_EQ(e.GetErrorInfo(), TError::LogicAssert(id));
        }
    }
}
