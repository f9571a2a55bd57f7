#include "kelvo/fast/PacketWalk.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// The choice of instruction set for the packet walk: the lanes of the chosen
// one, its name, and the narrowing to one set for tests; then the whole-ray
// forms of the queries. The queries themselves are in PacketWalk.cpp and
// PacketRays.cpp, each dispatched from there. Compiled once per instruction
// set; the source re-includes itself.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "kelvo/fast/PacketDispatch.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include "kelvo/fast/PacketLanes-inl.h"

HWY_BEFORE_NAMESPACE();
namespace kelvo {
namespace HWY_NAMESPACE {

const char* InstructionSet() { return hwy::TargetName(HWY_TARGET); }

}  // namespace HWY_NAMESPACE
}  // namespace kelvo
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace kelvo {
HWY_EXPORT(Width);
HWY_EXPORT(InstructionSet);

namespace PacketWalk {

int width() { return HWY_DYNAMIC_DISPATCH(Width)(); }

const char* instructionSet() { return HWY_DYNAMIC_DISPATCH(InstructionSet)(); }

namespace {
// Taken before any test narrows the supported sets.
const std::vector<std::int64_t>& runnableSets() {
    static const std::vector<std::int64_t> sets = hwy::SupportedAndGeneratedTargets();
    return sets;
}
}  // namespace

int compiledSets() { return static_cast<int>(runnableSets().size()); }

void useOnly(int index) {
    hwy::SetSupportedTargetsForTest(runnableSets().at(static_cast<std::size_t>(index)));
    hwy::GetChosenTarget().Update(hwy::SupportedTargets());
}

void useAll() {
    hwy::SetSupportedTargetsForTest(0);
    hwy::GetChosenTarget().Update(hwy::SupportedTargets());
}

// The whole-ray forms: the rays split into lanes, then the lanes' answers.
void nearestHits(const FastWalk& walk, const Ray* rays, const int* startLeaves, int count,
                 FastWalk::Hit* hits, FastWalk::Prediction* predictions, int vectors) {
    std::vector<double> lanes(static_cast<std::size_t>(count) * 6);
    RayLanes split{};
    for (int c = 0; c < 3; ++c) {
        double* origin = lanes.data() + static_cast<std::ptrdiff_t>(c) * count;
        double* direction = lanes.data() + static_cast<std::ptrdiff_t>(3 + c) * count;
        for (int i = 0; i < count; ++i) {
            origin[i] = rays[i].origin[c];
            direction[i] = rays[i].direction[c];
        }
        split.origin[c] = origin;
        split.direction[c] = direction;
    }
    nearestHits(walk, split, startLeaves, count, hits, predictions, nullptr, vectors);
}

void raysThrough(const Camera& camera, const double* u, const double* v, int count, Ray* out) {
    std::vector<double> lanes(static_cast<std::size_t>(count) * 6);
    double* origin[3];
    double* direction[3];
    for (int c = 0; c < 3; ++c) {
        origin[c] = lanes.data() + static_cast<std::ptrdiff_t>(c) * count;
        direction[c] = lanes.data() + static_cast<std::ptrdiff_t>(3 + c) * count;
    }
    raysThrough(camera, u, v, count, origin, direction);
    for (int i = 0; i < count; ++i) {
        out[i] = {{origin[0][i], origin[1][i], origin[2][i]},
                  {direction[0][i], direction[1][i], direction[2][i]}};
    }
}

}  // namespace PacketWalk
}  // namespace kelvo
#endif
