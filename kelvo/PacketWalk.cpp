#include "kelvo/PacketWalk.h"

#include <cstdint>
#include <vector>

#include "kelvo/World.h"

// Compiled once per instruction set; the source re-includes itself.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "kelvo/PacketWalk.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

HWY_BEFORE_NAMESPACE();
namespace kelvo {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

using D = hn::CappedTag<double, PacketWalk::MAX_WIDTH>;
using DU = hn::RebindToUnsigned<D>;

int Width() { return static_cast<int>(hn::Lanes(D())); }

const char* InstructionSet() { return hwy::TargetName(HWY_TARGET); }

// One packet of at most Lanes(D) rays. Lanes are grouped by the leaf they
// stand in; a group is examined with broadcast leaf data, then each of its
// lanes either ends or steps on. The arithmetic is the scalar walk's, operation
// for operation: separate multiplies and adds (no fused forms), the same
// divisions, and predicates with the scalar NaN behaviour. The step to the next
// leaf stays in the lanes while the remembered leaf of the exit face holds;
// a lane whose prediction fails, or that leaves the domain, takes the scalar
// step.
void Packet(const FastWalk& walk, const Ray* rays, const int* startLeaves, int count,
            FastWalk::Hit* hits, FastWalk::Prediction* predictions) {
    const D d;
    const DU du;
    const int n = static_cast<int>(hn::Lanes(d));
    HWY_ALIGN double lane[6][PacketWalk::MAX_WIDTH] = {};
    // The leaf each lane stands in, as a double (exact for any leaf index).
    HWY_ALIGN double leafOf[PacketWalk::MAX_WIDTH] = {};
    for (int i = 0; i < count; ++i) {
        for (int c = 0; c < 3; ++c) {
            lane[c][i] = rays[i].origin[c];
            lane[3 + c][i] = rays[i].direction[c];
        }
        leafOf[i] = startLeaves[i];
    }
    // Lanes beyond count repeat ray 0 so that they compute harmless values;
    // they are never active.
    for (int i = count; i < n; ++i) {
        for (int c = 0; c < 6; ++c) {
            lane[c][i] = lane[c][0];
        }
        leafOf[i] = -1.0;
    }
    const auto o0 = hn::Load(d, lane[0]), o1 = hn::Load(d, lane[1]), o2 = hn::Load(d, lane[2]);
    const auto d0 = hn::Load(d, lane[3]), d1 = hn::Load(d, lane[4]), d2 = hn::Load(d, lane[5]);
    const auto zero = hn::Zero(d);
    const auto one = hn::Set(d, 1.0);
    const auto none = hn::Set(d, -1.0);
    const auto a = hn::Add(hn::Add(hn::Mul(d0, d0), hn::Mul(d1, d1)), hn::Mul(d2, d2));
    // The exit step's per-ray parts: whether each axis counts and which face
    // of it lies ahead. d != 0 as "not equal to zero", so that NaN counts as
    // non-zero.
    const auto up0 = hn::Gt(d0, zero), up1 = hn::Gt(d1, zero), up2 = hn::Gt(d2, zero);
    const auto use0 = hn::Not(hn::Eq(d0, zero));
    const auto use1 = hn::Not(hn::Eq(d1, zero));
    const auto use2 = hn::Not(hn::Eq(d2, zero));
    const auto three = hn::Set(d, 3.0);

    auto t = hn::Set(d, NO_HIT_DISTANCE);
    auto best = none;
    auto leaves = zero;
    auto h0 = zero, h1 = zero, h2 = zero;
    auto tested = hn::Zero(du);
    auto leafV = hn::Load(d, leafOf);
    auto active = hn::FirstN(d, static_cast<std::size_t>(count));
    // Lanes that left the domain: misses whatever they found on the way.
    auto missed = hn::Lt(zero, zero);

    while (!hn::AllFalse(d, active)) {
        const double current = leafOf[hn::FindKnownFirstTrue(d, active)];
        const auto group = hn::And(active, hn::Eq(leafV, hn::Set(d, current)));
        const int currentLeaf = static_cast<int>(current);
        const FastWalk::Leaf& l = walk.leaf(currentLeaf);

        auto find = none;
        const std::uint8_t* list = walk.leafObstacles() + l.firstObstacle;
        for (int j = 0; j < l.obstacleCount; ++j) {
            const int s = list[j];
            const auto bit = hn::Set(du, std::uint64_t{1} << s);
            const auto fresh = hn::And(hn::RebindMask(d, hn::Eq(hn::And(tested, bit), hn::Zero(du))),
                                       group);
            if (hn::AllFalse(d, fresh)) {
                continue;
            }
            tested = hn::IfThenElse(hn::RebindMask(du, fresh), hn::Or(tested, bit), tested);
            const FastWalk::Sphere& sphere = walk.sphere(s);
            const auto e0 = hn::Sub(o0, hn::Set(d, sphere.centre[0]));
            const auto e1 = hn::Sub(o1, hn::Set(d, sphere.centre[1]));
            const auto e2 = hn::Sub(o2, hn::Set(d, sphere.centre[2]));
            const auto b = hn::Add(hn::Add(hn::Mul(e0, d0), hn::Mul(e1, d1)), hn::Mul(e2, d2));
            const auto k = hn::Sub(hn::Add(hn::Add(hn::Mul(e0, e0), hn::Mul(e1, e1)), hn::Mul(e2, e2)),
                                   hn::Set(d, sphere.radiusSquared));
            const auto disc = hn::Sub(hn::Mul(b, b), hn::Mul(a, k));
            // "Not less than" keeps NaN a hit, as the scalar !(disc < 0) does.
            const auto solved = hn::And(fresh, hn::Not(hn::Lt(disc, zero)));
            if (hn::AllFalse(d, solved)) {
                continue;
            }
            const auto u = hn::Div(hn::Neg(hn::Add(b, hn::Sqrt(disc))), a);
            const auto take = hn::And(solved, hn::And(hn::Gt(u, zero), hn::Lt(u, t)));
            t = hn::IfThenElse(take, u, t);
            find = hn::IfThenElse(take, hn::Set(d, static_cast<double>(s)), find);
        }
        const auto found = hn::Ge(find, zero);
        best = hn::IfThenElse(found, find, best);
        h0 = hn::IfThenElse(found, hn::Add(o0, hn::Mul(t, d0)), h0);
        h1 = hn::IfThenElse(found, hn::Add(o1, hn::Mul(t, d1)), h1);
        h2 = hn::IfThenElse(found, hn::Add(o2, hn::Mul(t, d2)), h2);
        // Closed containment: a point on a face belongs to the leaf.
        auto inside = hn::And(group, hn::Ge(best, zero));
        inside = hn::And(inside, hn::Not(hn::Gt(hn::Set(d, l.bound[0]), h0)));
        inside = hn::And(inside, hn::Not(hn::Gt(hn::Set(d, l.bound[1]), h1)));
        inside = hn::And(inside, hn::Not(hn::Gt(hn::Set(d, l.bound[2]), h2)));
        inside = hn::And(inside, hn::Not(hn::Lt(hn::Set(d, l.bound[3]), h0)));
        inside = hn::And(inside, hn::Not(hn::Lt(hn::Set(d, l.bound[4]), h1)));
        inside = hn::And(inside, hn::Not(hn::Lt(hn::Set(d, l.bound[5]), h2)));
        // Lanes that end here keep this leaf and their t.
        active = hn::AndNot(inside, active);
        const auto moving = hn::AndNot(inside, group);
        if (hn::AllFalse(d, moving)) {
            continue;
        }
        leaves = hn::IfThenElse(moving, hn::Add(leaves, one), leaves);

        // The exit face: per axis the face ahead, then the sequential choice
        // of the smallest t without dividing (ties keep the lower axis).
        const auto num0 = hn::Sub(hn::IfThenElse(up0, hn::Set(d, l.face[3]), hn::Set(d, l.face[0])), o0);
        const auto num1 = hn::Sub(hn::IfThenElse(up1, hn::Set(d, l.face[4]), hn::Set(d, l.face[1])), o1);
        const auto num2 = hn::Sub(hn::IfThenElse(up2, hn::Set(d, l.face[5]), hn::Set(d, l.face[2])), o2);
        auto axis = hn::IfThenElse(use0, zero, none);
        auto numB = num0;
        auto dB = d0;
        auto upB = hn::IfThenElse(up0, one, zero);
        const auto take1 = hn::And(
            use1, hn::Or(hn::Lt(axis, zero),
                         hn::Lt(hn::Mul(hn::Mul(num1, d1), hn::Mul(dB, dB)),
                                hn::Mul(hn::Mul(numB, dB), hn::Mul(d1, d1)))));
        axis = hn::IfThenElse(take1, one, axis);
        numB = hn::IfThenElse(take1, num1, numB);
        dB = hn::IfThenElse(take1, d1, dB);
        upB = hn::IfThenElse(take1, hn::IfThenElse(up1, one, zero), upB);
        const auto take2 = hn::And(
            use2, hn::Or(hn::Lt(axis, zero),
                         hn::Lt(hn::Mul(hn::Mul(num2, d2), hn::Mul(dB, dB)),
                                hn::Mul(hn::Mul(numB, dB), hn::Mul(d2, d2)))));
        axis = hn::IfThenElse(take2, hn::Set(d, 2.0), axis);
        numB = hn::IfThenElse(take2, num2, numB);
        dB = hn::IfThenElse(take2, d2, dB);
        upB = hn::IfThenElse(take2, hn::IfThenElse(up2, one, zero), upB);
        const auto tt = hn::Div(numB, dB);
        const auto p0 = hn::Add(hn::Mul(d0, tt), o0);
        const auto p1 = hn::Add(hn::Mul(d1, tt), o1);
        const auto p2 = hn::Add(hn::Mul(d2, tt), o2);
        const auto face = hn::Add(hn::Mul(three, upB), axis);

        // One exit face at a time: lanes leaving the domain through it end
        // there, a miss that keeps its last leaf and t; the others take the
        // face's remembered leaf where the exit point passes every comparison
        // the descent would make (low < p, p <= high).
        auto stepped = hn::Lt(zero, zero);
        HWY_ALIGN double faceOf[PacketWalk::MAX_WIDTH];
        hn::Store(face, d, faceOf);
        auto remaining = hn::And(moving, hn::Ge(axis, zero));
        while (!hn::AllFalse(d, remaining)) {
            const int f = static_cast<int>(faceOf[hn::FindKnownFirstTrue(d, remaining)]);
            const auto same = hn::And(remaining, hn::Eq(face, hn::Set(d, static_cast<double>(f))));
            remaining = hn::AndNot(same, remaining);
            if (l.entry[f] < 0) {
                missed = hn::Or(missed, same);
                active = hn::AndNot(same, active);
                stepped = hn::Or(stepped, same);
                continue;
            }
            if (predictions == nullptr || predictions[currentLeaf * 6 + f].leaf < 0) {
                continue;
            }
            const FastWalk::Prediction& guess = predictions[currentLeaf * 6 + f];
            auto pass = hn::And(same, hn::Lt(hn::Set(d, guess.low[0]), p0));
            pass = hn::And(pass, hn::Lt(hn::Set(d, guess.low[1]), p1));
            pass = hn::And(pass, hn::Lt(hn::Set(d, guess.low[2]), p2));
            pass = hn::And(pass, hn::Le(p0, hn::Set(d, guess.high[0])));
            pass = hn::And(pass, hn::Le(p1, hn::Set(d, guess.high[1])));
            pass = hn::And(pass, hn::Le(p2, hn::Set(d, guess.high[2])));
            leafV = hn::IfThenElse(pass, hn::Set(d, static_cast<double>(guess.leaf)), leafV);
            stepped = hn::Or(stepped, pass);
        }
        const auto slow = hn::AndNot(stepped, moving);
        if (!hn::AllFalse(d, slow)) {
            uint8_t slowBytes[8] = {};
            hn::StoreMaskBits(d, slow, slowBytes);
            HWY_ALIGN double axisLane[PacketWalk::MAX_WIDTH], faceLane[PacketWalk::MAX_WIDTH],
                p[3][PacketWalk::MAX_WIDTH];
            hn::Store(axis, d, axisLane);
            hn::Store(face, d, faceLane);
            hn::Store(p0, d, p[0]);
            hn::Store(p1, d, p[1]);
            hn::Store(p2, d, p[2]);
            hn::Store(leafV, d, leafOf);
            unsigned ended = 0;
            for (unsigned bits = slowBytes[0]; bits != 0; bits &= bits - 1) {
                const int i = __builtin_ctz(bits);
                const int f = static_cast<int>(faceLane[i]);
                if (axisLane[i] < 0.0) {
                    // A zero direction leaves by no face: a miss, as at the
                    // domain's boundary.
                    ended |= 1u << i;
                    continue;
                }
                const double point[3] = {p[0][i], p[1][i], p[2][i]};
                leafOf[i] = walk.enter(currentLeaf, f, point, predictions);
            }
            leafV = hn::Load(d, leafOf);
            if (ended != 0) {
                const uint8_t endedBytes[8] = {static_cast<uint8_t>(ended)};
                const auto out = hn::LoadMaskBits(d, endedBytes);
                missed = hn::Or(missed, out);
                active = hn::AndNot(out, active);
            }
        } else {
            hn::Store(leafV, d, leafOf);
        }
    }

    HWY_ALIGN double tLane[PacketWalk::MAX_WIDTH], bestLane[PacketWalk::MAX_WIDTH],
        leavesLane[PacketWalk::MAX_WIDTH];
    hn::Store(t, d, tLane);
    hn::Store(hn::IfThenElse(missed, none, best), d, bestLane);
    hn::Store(leaves, d, leavesLane);
    for (int i = 0; i < count; ++i) {
        hits[i] = {static_cast<int>(bestLane[i]), tLane[i],
                   static_cast<int>(leavesLane[i]), static_cast<int>(leafOf[i]), 0};
    }
}

// Camera::rayThrough per lane: the same products and sums in the same order
// (the third axis times zero included, which keeps its NaN and signed-zero
// behaviour), one square root and one division per ray.
void RaysThrough(const Camera& camera, const double* u, const double* v, int count, Ray* out) {
    const D d;
    const int n = static_cast<int>(hn::Lanes(d));
    const auto zero = hn::Zero(d);
    HWY_ALIGN double uLane[PacketWalk::MAX_WIDTH], vLane[PacketWalk::MAX_WIDTH];
    HWY_ALIGN double q[3][PacketWalk::MAX_WIDTH], dir[3][PacketWalk::MAX_WIDTH];
    for (int first = 0; first < count; first += n) {
        const int m = count - first < n ? count - first : n;
        for (int i = 0; i < n; ++i) {
            uLane[i] = u[first + (i < m ? i : 0)];
            vLane[i] = v[first + (i < m ? i : 0)];
        }
        const auto uu = hn::Load(d, uLane);
        const auto vv = hn::Load(d, vLane);
        hn::Vec<D> qc[3], dc[3];
        for (int c = 0; c < 3; ++c) {
            const auto across =
                hn::Add(hn::Add(hn::Mul(hn::Set(d, camera.screenAxes[c][0]), uu),
                                hn::Mul(hn::Set(d, camera.screenAxes[c][1]), vv)),
                        hn::Mul(hn::Set(d, camera.screenAxes[c][2]), zero));
            qc[c] = hn::Add(hn::Set(d, camera.screenOrigin[c]), across);
            dc[c] = hn::Sub(qc[c], hn::Set(d, camera.position[c]));
        }
        const auto length = hn::Sqrt(
            hn::Add(hn::Add(hn::Mul(dc[0], dc[0]), hn::Mul(dc[1], dc[1])), hn::Mul(dc[2], dc[2])));
        const auto scale = hn::Div(hn::Set(d, 1.0), length);
        for (int c = 0; c < 3; ++c) {
            hn::Store(qc[c], d, q[c]);
            hn::Store(hn::Mul(dc[c], scale), d, dir[c]);
        }
        for (int i = 0; i < m; ++i) {
            Ray& ray = out[first + i];
            ray.origin = {q[0][i], q[1][i], q[2][i]};
            ray.direction = {dir[0][i], dir[1][i], dir[2][i]};
        }
    }
}

void NearestHits(const FastWalk& walk, const Ray* rays, const int* startLeaves, int count,
                 FastWalk::Hit* hits, FastWalk::Prediction* predictions) {
    const int n = Width();
    for (int i = 0; i < count; i += n) {
        Packet(walk, rays + i, startLeaves + i, count - i < n ? count - i : n, hits + i,
               predictions);
    }
}

}  // namespace HWY_NAMESPACE
}  // namespace kelvo
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace kelvo {
HWY_EXPORT(NearestHits);
HWY_EXPORT(RaysThrough);
HWY_EXPORT(Width);
HWY_EXPORT(InstructionSet);

namespace PacketWalk {

void nearestHits(const FastWalk& walk, const Ray* rays, const int* startLeaves, int count,
                 FastWalk::Hit* hits, FastWalk::Prediction* predictions) {
    HWY_DYNAMIC_DISPATCH(NearestHits)(walk, rays, startLeaves, count, hits, predictions);
}

void raysThrough(const Camera& camera, const double* u, const double* v, int count, Ray* out) {
    HWY_DYNAMIC_DISPATCH(RaysThrough)(camera, u, v, count, out);
}

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

}  // namespace PacketWalk
}  // namespace kelvo
#endif
