#include "kelvo/fast/LightBlockers.h"

#include <cstddef>

// LightBlockers::blockedAll in lanes: a cell's spheres a group at a time.
// Compiled once per instruction set; the source re-includes itself.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "kelvo/fast/ShadowLanes.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

HWY_BEFORE_NAMESPACE();
namespace kelvo {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// One group of a cell's list per vector.
using G = hn::CappedTag<double, LightBlockers::GROUP>;

// The scalar test's operations in each lane, in its order: the reach, then
// whether the ray heads towards the centre and meets the sphere's line; only
// where some lane does, the root. NaN fails every comparison as there.
LightBlockers::Answer BlockedOne(const LightBlockers::Lists& lists, int cell, const double p[3],
                                 const double l[3], double distanceSquared) {
    const G g;
    const int n = static_cast<int>(hn::Lanes(g));
    const auto zero = hn::Zero(g);
    const auto one = hn::Set(g, 1.0);
    const auto p0 = hn::Set(g, p[0]), p1 = hn::Set(g, p[1]), p2 = hn::Set(g, p[2]);
    const auto l0 = hn::Set(g, l[0]), l1 = hn::Set(g, l[1]), l2 = hn::Set(g, l[2]);
    const auto a = hn::Set(g, l[0] * l[0] + l[1] * l[1] + l[2] * l[2]);
    const auto far = hn::Set(g, distanceSquared);
    const std::size_t end = static_cast<std::size_t>(lists.first[cell + 1]);
    for (std::size_t s = static_cast<std::size_t>(lists.first[cell]); s < end;
         s += static_cast<std::size_t>(n)) {
        const auto reach = hn::LoadU(g, lists.reach + s);
        const auto beyond = hn::And(hn::Gt(reach, zero), hn::Gt(hn::Mul(reach, reach), far));
        if (hn::AllTrue(g, beyond)) {
            break;  // this group and all after it lie beyond p
        }
        const auto e0 = hn::Sub(p0, hn::LoadU(g, lists.centre[0] + s));
        const auto e1 = hn::Sub(p1, hn::LoadU(g, lists.centre[1] + s));
        const auto e2 = hn::Sub(p2, hn::LoadU(g, lists.centre[2] + s));
        const auto b = hn::Add(hn::Add(hn::Mul(e0, l0), hn::Mul(e1, l1)), hn::Mul(e2, l2));
        const auto k = hn::Sub(hn::Add(hn::Add(hn::Mul(e0, e0), hn::Mul(e1, e1)), hn::Mul(e2, e2)),
                               hn::LoadU(g, lists.radiusSquared + s));
        const auto disc = hn::Sub(hn::Mul(b, b), hn::Mul(a, k));
        const auto maybe = hn::Not(hn::Or(beyond, hn::Or(hn::Gt(b, zero), hn::Lt(disc, zero))));
        if (hn::AllFalse(g, maybe)) {
            continue;
        }
        const auto u = hn::Div(hn::Neg(hn::Add(b, hn::Sqrt(disc))), a);
        if (!hn::AllFalse(g, hn::And(maybe, hn::And(hn::Gt(u, zero), hn::Lt(u, one))))) {
            return LightBlockers::BLOCKED;
        }
    }
    return LightBlockers::REACHES;
}

void BlockedAll(const LightBlockers& blockers, const double* const point[3],
                const double* const towards[3], int count, LightBlockers::Answer* answers) {
    const LightBlockers::Lists lists = blockers.lists();
    const Vec3& light = blockers.light();
    for (int i = 0; i < count; ++i) {
        const double p[3] = {point[0][i], point[1][i], point[2][i]};
        const double l[3] = {towards[0][i], towards[1][i], towards[2][i]};
        const Vec3 w{p[0] - light.x, p[1] - light.y, p[2] - light.z};
        const int cell = blockers.cellOf(w);
        answers[i] = cell < 0 ? LightBlockers::ASK_THE_WALK
                              : BlockedOne(lists, cell, p, l, w.x * w.x + w.y * w.y + w.z * w.z);
    }
}

}  // namespace HWY_NAMESPACE
}  // namespace kelvo
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace kelvo {
HWY_EXPORT(BlockedAll);

namespace ShadowLanes {

void blockedAll(const LightBlockers& blockers, const double* const point[3],
                const double* const towards[3], int count, LightBlockers::Answer* answers) {
    HWY_DYNAMIC_DISPATCH(BlockedAll)(blockers, point, towards, count, answers);
}

}  // namespace ShadowLanes
}  // namespace kelvo
#endif
