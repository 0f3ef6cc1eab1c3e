#include <algorithm>
#include <memory>
#include <span>
#include <vector>

#include <lmxmaps/Geom.h>
#include <lmxmaps/ParallelFor.h>
#include <lmxmaps/host/Geodesy.h>

namespace geom {

namespace {

constexpr std::size_t kMinLinePoints = 2;
// Three corners and the closing repeat of the first.
constexpr std::size_t kMinRingPoints = 4;

// One line or ring with its selection mask (one flag per point, all clear at first) and, once
// generalized, its kept points.
struct AccessEntry {
    const Path* path;
    std::vector<bool> keep;
    Path kept;
};

void CollectKeptPoints(AccessEntry& entry) {
    const Path& path = *entry.path;
    std::size_t count = 0;
    for (std::size_t i = 0; i < path.size(); ++i) {
        count += entry.keep[i] ? 1 : 0;
    }
    entry.kept.reserve(count);
    for (std::size_t i = 0; i < path.size(); ++i) {
        if (entry.keep[i]) {
            entry.kept.push_back(path[i]);
        }
    }
}

} // namespace

bool GeneralizeGeometryIfTooDetailed(const ConstGeom& geometry, Geom& out, double tolerance) {
    const std::unique_ptr<lmxgeo::Generalizer> generalizer =
        lmxgeo::MakeDouglasPeuckerGeneralizer();

    std::vector<AccessEntry> entries;
    for (const Path& line : geometry.GetLines()) {
        entries.push_back({&line, std::vector<bool>(line.size(), false), {}});
    }
    for (const Polygon& polygon : geometry.GetPolys()) {
        for (const Path& ring : polygon) {
            entries.push_back({&ring, std::vector<bool>(ring.size(), false), {}});
        }
    }

    const double scaledTolerance = 0.001 * tolerance;
    // Each task writes only its own entry (mask and kept points); the generalizer keeps no
    // state of its own.
    ParallelFor(
        0, entries.size(), 1,
        [&](std::size_t i) {
            AccessEntry& entry = entries[i];
            generalizer->Generalize(lmxgeo::PointArrayAccessAdapter(std::span(*entry.path)),
                                    entry.keep, scaledTolerance);
            CollectKeptPoints(entry);
        },
        entries.size() >= 2);

    const bool anyKept = std::any_of(entries.begin(), entries.end(),
                                     [](const AccessEntry& entry) { return !entry.kept.empty(); });
    if (!anyKept) {
        return false;
    }

    std::vector<Path> lines;
    std::size_t next = 0;
    for (std::size_t i = 0; i < geometry.GetLines().size(); ++i, ++next) {
        Path& kept = entries[next].kept;
        if (kept.size() >= kMinLinePoints) {
            lines.push_back(std::move(kept));
        }
    }
    // A ring thinned below a ring is dropped, and a polygon whose outer ring went goes with
    // its holes.
    std::vector<Polygon> polys;
    polys.reserve(geometry.GetPolys().size());
    for (const Polygon& polygon : geometry.GetPolys()) {
        const std::size_t outer = next;
        next += polygon.size();
        if (polygon.empty() || entries[outer].kept.size() < kMinRingPoints) {
            continue;
        }
        Polygon rebuilt;
        rebuilt.reserve(polygon.size());
        for (std::size_t r = outer; r < next; ++r) {
            if (entries[r].kept.size() >= kMinRingPoints) {
                rebuilt.push_back(std::move(entries[r].kept));
            }
        }
        polys.push_back(std::move(rebuilt));
    }
    out = Geom(geometry.GetPoints(), std::move(lines), std::move(polys));
    return true;
}

} // namespace geom
