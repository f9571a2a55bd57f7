#include "kelvo/PacketWalk.h"

#include <cmath>
#include <algorithm>
#include <cstddef>
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
// a lane whose prediction fails takes the scalar step.
class Packet {
public:
    using V = hn::Vec<D>;
    using M = hn::Mask<D>;

    // Rays first to first + count of rays.
    Packet(const PacketWalk::RayLanes& rays, int first, const int* startLeaves, int count)
        : count_(count) {
        const D d;
        const int n = static_cast<int>(hn::Lanes(d));
        const double* source[6] = {rays.origin[0] + first,    rays.origin[1] + first,
                                   rays.origin[2] + first,    rays.direction[0] + first,
                                   rays.direction[1] + first, rays.direction[2] + first};
        V lane[6];
        if (count == n) {
            for (int c = 0; c < 6; ++c) {
                lane[c] = hn::LoadU(d, source[c]);
            }
        } else {
            // Lanes beyond count repeat the first ray (or are zero in an
            // empty packet) so that they compute harmless values; they are
            // never active.
            HWY_ALIGN double part[PacketWalk::MAX_WIDTH];
            for (int c = 0; c < 6; ++c) {
                for (int i = 0; i < n; ++i) {
                    part[i] = count == 0 ? 0.0 : source[c][i < count ? i : 0];
                }
                lane[c] = hn::Load(d, part);
            }
        }
        for (int i = 0; i < n; ++i) {
            leafOf_[i] = i < count ? startLeaves[first + i] : -1.0;
        }
        o0_ = lane[0];
        o1_ = lane[1];
        o2_ = lane[2];
        d0_ = lane[3];
        d1_ = lane[4];
        d2_ = lane[5];
        a_ = hn::Add(hn::Add(hn::Mul(d0_, d0_), hn::Mul(d1_, d1_)), hn::Mul(d2_, d2_));
        const auto zero = hn::Zero(d);
        const auto three = hn::Set(d, 3.0);
        flat0_ = hn::Eq(d0_, zero);
        flat1_ = hn::Eq(d1_, zero);
        flat2_ = hn::Eq(d2_, zero);
        up0_ = hn::Gt(d0_, zero);
        up1_ = hn::Gt(d1_, zero);
        up2_ = hn::Gt(d2_, zero);
        face0_ = hn::IfThenElseZero(up0_, three);
        face1_ = hn::Add(hn::IfThenElseZero(up1_, three), hn::Set(d, 1.0));
        face2_ = hn::Add(hn::IfThenElseZero(up2_, three), hn::Set(d, 2.0));
        square0_ = hn::Mul(d0_, d0_);
        square1_ = hn::Mul(d1_, d1_);
        square2_ = hn::Mul(d2_, d2_);
        t_ = hn::Set(d, NO_HIT_DISTANCE);
        best_ = hn::Set(d, -1.0);
        leaves_ = zero;
        h0_ = h1_ = h2_ = zero;
        along_ = zero;
        tested_ = hn::Zero(DU());
        leafV_ = hn::Load(d, leafOf_);
        active_ = hn::FirstN(d, static_cast<std::size_t>(count));
        missed_ = hn::Lt(zero, zero);
    }

    bool live() const { return !hn::AllFalse(D(), active_); }

    // Examines the leaf of the first active lane for every lane standing in
    // it: its spheres, then for the lanes that do not end there the step on.
    HWY_INLINE void step(const FastWalk& walk, FastWalk::Prediction* predictions) {
        const D d;
        const auto zero = hn::Zero(d);
        const auto one = hn::Set(d, 1.0);
        const auto o0 = o0_, o1 = o1_, o2 = o2_, d0 = d0_, d1 = d1_, d2 = d2_;

        double current = leafOf_[hn::FindKnownFirstTrue(d, active_)];
        auto group = hn::And(active_, hn::Eq(leafV_, hn::Set(d, current)));
        if (!hn::AllFalse(d, hn::AndNot(group, active_))) {
            // The lanes are in several leaves: those furthest behind go first,
            // so that the others may catch up with them in a leaf they share
            // (fewer steps; any order gives the same answers).
            const auto behind = hn::IfThenElse(active_, along_, hn::Set(d, HUGE_VAL));
            const auto last = hn::And(active_, hn::Eq(along_, hn::MinOfLanes(d, behind)));
            if (!hn::AllFalse(d, last)) {  // else NaN distances: keep the first
                current = leafOf_[hn::FindKnownFirstTrue(d, last)];
                group = hn::And(active_, hn::Eq(leafV_, hn::Set(d, current)));
            }
        }
        const int currentLeaf = static_cast<int>(current);
        const FastWalk::Leaf& l = walk.leaf(currentLeaf);

        if (l.obstacleCount > 0) {
            intersect(walk, l, group);
        }
        // Closed containment: a point on a face belongs to the leaf.
        auto inside = hn::And(group, hn::Ge(best_, zero));
        if (!hn::AllFalse(d, inside)) {
            inside = hn::And(inside, hn::Not(hn::Gt(hn::Set(d, l.bound[0]), h0_)));
            inside = hn::And(inside, hn::Not(hn::Gt(hn::Set(d, l.bound[1]), h1_)));
            inside = hn::And(inside, hn::Not(hn::Gt(hn::Set(d, l.bound[2]), h2_)));
            inside = hn::And(inside, hn::Not(hn::Lt(hn::Set(d, l.bound[3]), h0_)));
            inside = hn::And(inside, hn::Not(hn::Lt(hn::Set(d, l.bound[4]), h1_)));
            inside = hn::And(inside, hn::Not(hn::Lt(hn::Set(d, l.bound[5]), h2_)));
        }
        // Lanes that end here keep this leaf and their t.
        active_ = hn::AndNot(inside, active_);
        const auto moving = hn::AndNot(inside, group);
        if (hn::AllFalse(d, moving)) {
            return;
        }
        leaves_ = hn::IfThenElse(moving, hn::Add(leaves_, one), leaves_);

        // The exit face: per axis the face ahead, then the sequential choice
        // of the smallest t without dividing (ties keep the lower axis). The
        // squares of the direction are the per-ray products the scalar step
        // forms each time, to the bit.
        const auto num0 = hn::Sub(hn::IfThenElse(up0_, hn::Set(d, l.face[3]), hn::Set(d, l.face[0])), o0);
        const auto num1 = hn::Sub(hn::IfThenElse(up1_, hn::Set(d, l.face[4]), hn::Set(d, l.face[1])), o1);
        const auto num2 = hn::Sub(hn::IfThenElse(up2_, hn::Set(d, l.face[5]), hn::Set(d, l.face[2])), o2);
        auto unset = flat0_;
        auto face = face0_;
        auto numB = num0;
        auto dB = d0;
        auto dB2 = square0_;
        const auto take1 = hn::AndNot(
            flat1_, hn::Or(unset, hn::Lt(hn::Mul(hn::Mul(num1, d1), dB2),
                                         hn::Mul(hn::Mul(numB, dB), square1_))));
        unset = hn::AndNot(take1, unset);
        face = hn::IfThenElse(take1, face1_, face);
        numB = hn::IfThenElse(take1, num1, numB);
        dB = hn::IfThenElse(take1, d1, dB);
        dB2 = hn::IfThenElse(take1, square1_, dB2);
        const auto take2 = hn::AndNot(
            flat2_, hn::Or(unset, hn::Lt(hn::Mul(hn::Mul(num2, d2), dB2),
                                         hn::Mul(hn::Mul(numB, dB), square2_))));
        unset = hn::AndNot(take2, unset);
        face = hn::IfThenElse(take2, face2_, face);
        numB = hn::IfThenElse(take2, num2, numB);
        dB = hn::IfThenElse(take2, d2, dB);
        const auto tt = hn::Div(numB, dB);
        along_ = hn::IfThenElse(moving, tt, along_);
        const auto p0 = hn::Add(hn::Mul(d0, tt), o0);
        const auto p1 = hn::Add(hn::Mul(d1, tt), o1);
        const auto p2 = hn::Add(hn::Mul(d2, tt), o2);

        // One exit face at a time: lanes leaving the domain through it end
        // there, a miss that keeps its last leaf and t; the others take the
        // face's remembered leaf where the exit point passes every comparison
        // the descent would make (low < p, p <= high).
        auto leafV = leafV_;
        HWY_ALIGN double faceOf[PacketWalk::MAX_WIDTH];
        hn::Store(face, d, faceOf);
        // A zero direction leaves by no face: a miss, as at the domain's
        // boundary.
        const auto stuck = hn::And(moving, unset);
        missed_ = hn::Or(missed_, stuck);
        active_ = hn::AndNot(stuck, active_);
        auto stepped = stuck;
        auto remaining = hn::AndNot(unset, moving);
        while (!hn::AllFalse(d, remaining)) {
            const int f = static_cast<int>(faceOf[hn::FindKnownFirstTrue(d, remaining)]);
            const auto same = hn::And(remaining, hn::Eq(face, hn::Set(d, static_cast<double>(f))));
            remaining = hn::AndNot(same, remaining);
            if (l.entry[f] < 0) {
                missed_ = hn::Or(missed_, same);
                active_ = hn::AndNot(same, active_);
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
        if (HWY_LIKELY(hn::AllFalse(d, slow))) {
            leafV_ = leafV;
            hn::Store(leafV, d, leafOf_);
            return;
        }
        uint8_t slowBytes[8] = {};
        hn::StoreMaskBits(d, slow, slowBytes);
        HWY_ALIGN double p[3][PacketWalk::MAX_WIDTH];
        hn::Store(p0, d, p[0]);
        hn::Store(p1, d, p[1]);
        hn::Store(p2, d, p[2]);
        hn::Store(leafV, d, leafOf_);
        for (unsigned bits = slowBytes[0]; bits != 0; bits &= bits - 1) {
            const int i = __builtin_ctz(bits);
            const double point[3] = {p[0][i], p[1][i], p[2][i]};
            leafOf_[i] = walk.enter(currentLeaf, static_cast<int>(faceOf[i]), point, predictions);
        }
        leafV_ = hn::Load(d, leafOf_);
    }

    // The spheres of leaf l that the lanes of group have not yet tested, in
    // the leaf's order: the nearest hit so far, and its point.
    HWY_INLINE void intersect(const FastWalk& walk, const FastWalk::Leaf& l, hn::Mask<D> group) {
        const D d;
        const DU du;
        const auto zero = hn::Zero(d);
        auto find = hn::Set(d, -1.0);
        auto t = t_;
        auto tested = tested_;
        const std::uint8_t* list = walk.leafObstacles() + l.firstObstacle;
        for (int j = 0; j < l.obstacleCount; ++j) {
            const int s = list[j];
            const auto bit = hn::Set(du, std::uint64_t{1} << s);
            const auto fresh =
                hn::And(hn::RebindMask(d, hn::Eq(hn::And(tested, bit), hn::Zero(du))), group);
            if (hn::AllFalse(d, fresh)) {
                continue;
            }
            tested = hn::IfThenElse(hn::RebindMask(du, fresh), hn::Or(tested, bit), tested);
            const FastWalk::Sphere& sphere = walk.sphere(s);
            const auto e0 = hn::Sub(o0_, hn::Set(d, sphere.centre[0]));
            const auto e1 = hn::Sub(o1_, hn::Set(d, sphere.centre[1]));
            const auto e2 = hn::Sub(o2_, hn::Set(d, sphere.centre[2]));
            const auto b =
                hn::Add(hn::Add(hn::Mul(e0, d0_), hn::Mul(e1, d1_)), hn::Mul(e2, d2_));
            const auto k =
                hn::Sub(hn::Add(hn::Add(hn::Mul(e0, e0), hn::Mul(e1, e1)), hn::Mul(e2, e2)),
                        hn::Set(d, sphere.radiusSquared));
            const auto disc = hn::Sub(hn::Mul(b, b), hn::Mul(a_, k));
            // "Not less than" keeps NaN a hit, as the scalar !(disc < 0) does.
            const auto solved = hn::And(fresh, hn::Not(hn::Lt(disc, zero)));
            if (hn::AllFalse(d, solved)) {
                continue;
            }
            const auto u = hn::Div(hn::Neg(hn::Add(b, hn::Sqrt(disc))), a_);
            const auto take = hn::And(solved, hn::And(hn::Gt(u, zero), hn::Lt(u, t)));
            t = hn::IfThenElse(take, u, t);
            find = hn::IfThenElse(take, hn::Set(d, static_cast<double>(s)), find);
        }
        t_ = t;
        tested_ = tested;
        const auto found = hn::Ge(find, zero);
        best_ = hn::IfThenElse(found, find, best_);
        h0_ = hn::IfThenElse(found, hn::Add(o0_, hn::Mul(t, d0_)), h0_);
        h1_ = hn::IfThenElse(found, hn::Add(o1_, hn::Mul(t, d1_)), h1_);
        h2_ = hn::IfThenElse(found, hn::Add(o2_, hn::Mul(t, d2_)), h2_);
    }

    void finish(FastWalk::Hit* hits) const {
        const D d;
        HWY_ALIGN double tLane[PacketWalk::MAX_WIDTH], bestLane[PacketWalk::MAX_WIDTH],
            leavesLane[PacketWalk::MAX_WIDTH];
        hn::Store(t_, d, tLane);
        hn::Store(hn::IfThenElse(missed_, hn::Set(d, -1.0), best_), d, bestLane);
        hn::Store(leaves_, d, leavesLane);
        for (int i = 0; i < count_; ++i) {
            hits[i] = {static_cast<int>(bestLane[i]), tLane[i], static_cast<int>(leavesLane[i]),
                       static_cast<int>(leafOf_[i]), 0};
        }
    }

private:
    int count_;
    V o0_, o1_, o2_, d0_, d1_, d2_, a_;
    // Per axis: whether the direction is zero there ("equal to zero", so
    // that NaN counts as non-zero), whether it points up, the face ahead and
    // the direction's square.
    M flat0_, flat1_, flat2_, up0_, up1_, up2_;
    V face0_, face1_, face2_, square0_, square1_, square2_;
    V t_, best_, leaves_, h0_, h1_, h2_;
    hn::Vec<DU> tested_;
    // How far along its ray each lane has come: the distance to the face it
    // last crossed.
    V along_;
    // The leaf each lane stands in, as a double (exact for any leaf index),
    // in a vector and in memory.
    V leafV_;
    HWY_ALIGN double leafOf_[PacketWalk::MAX_WIDTH] = {};
    M active_;
    // Lanes that left the domain: misses whatever they found on the way.
    M missed_;
};

// Camera::rayThrough per lane: the same products and sums in the same order
// (the third axis times zero included, which keeps its NaN and signed-zero
// behaviour), one square root and one division per ray.
void RaysThrough(const Camera& camera, const double* u, const double* v, int count,
                 double* const origin[3], double* const direction[3]) {
    const D d;
    const int n = static_cast<int>(hn::Lanes(d));
    const auto zero = hn::Zero(d);
    HWY_ALIGN double uLane[PacketWalk::MAX_WIDTH], vLane[PacketWalk::MAX_WIDTH];
    HWY_ALIGN double part[PacketWalk::MAX_WIDTH];
    for (int first = 0; first < count; first += n) {
        const int m = count - first < n ? count - first : n;
        hn::Vec<D> uu, vv;
        if (m == n) {
            uu = hn::LoadU(d, u + first);
            vv = hn::LoadU(d, v + first);
        } else {
            for (int i = 0; i < n; ++i) {
                uLane[i] = u[first + (i < m ? i : 0)];
                vLane[i] = v[first + (i < m ? i : 0)];
            }
            uu = hn::Load(d, uLane);
            vv = hn::Load(d, vLane);
        }
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
            const auto dir = hn::Mul(dc[c], scale);
            if (m == n) {
                hn::StoreU(qc[c], d, origin[c] + first);
                hn::StoreU(dir, d, direction[c] + first);
            } else {
                hn::Store(qc[c], d, part);
                std::copy(part, part + m, origin[c] + first);
                hn::Store(dir, d, part);
                std::copy(part, part + m, direction[c] + first);
            }
        }
    }
}

void JitteredPoints(std::uint32_t start, const std::uint32_t* const multiplier[2],
                    const std::uint32_t* const increment[2], int x0, int y, int count,
                    float scale, double pixelWidth, double pixelHeight, double* u, double* v) {
    const D d;
    const hn::Rebind<std::uint32_t, D> du;
    const hn::Rebind<std::int32_t, D> di;
    const hn::Rebind<float, D> df;
    const int n = static_cast<int>(hn::Lanes(d));
    const auto from = hn::Set(du, start);
    const auto bits = hn::Set(du, 0x7fffu);
    const auto scaleV = hn::Set(df, scale);
    const auto row = hn::ConvertTo(df, hn::Set(di, y));
    // Made once: Iota builds its lanes in memory, which a load right after
    // cannot take from the stores in flight.
    const auto lane = hn::Iota(di, 0);
    for (int i = 0; i < count; i += n) {
        const auto column = hn::ConvertTo(df, hn::Add(lane, hn::Set(di, x0 + i)));
        const auto s1 = hn::Add(hn::Mul(hn::LoadU(du, multiplier[0] + i), from),
                                hn::LoadU(du, increment[0] + i));
        const auto s2 = hn::Add(hn::Mul(hn::LoadU(du, multiplier[1] + i), from),
                                hn::LoadU(du, increment[1] + i));
        const auto r1 = hn::ConvertTo(df, hn::BitCast(di, hn::And(hn::ShiftRight<16>(s1), bits)));
        const auto r2 = hn::ConvertTo(df, hn::BitCast(di, hn::And(hn::ShiftRight<16>(s2), bits)));
        hn::StoreU(hn::Mul(hn::PromoteTo(d, hn::Add(column, hn::Mul(r1, scaleV))),
                           hn::Set(d, pixelWidth)),
                   d, u + i);
        hn::StoreU(hn::Mul(hn::PromoteTo(d, hn::Add(row, hn::Mul(r2, scaleV))),
                           hn::Set(d, pixelHeight)),
                   d, v + i);
    }
}

void LocateAll(const FastWalk& walk, const double* const point[3], int count, int& guess,
               int* leaves) {
    const D d;
    const int n = static_cast<int>(hn::Lanes(d));
    int i = 0;
    if (guess >= 0) {
        // Whole packets against the guess at once; a lane that fails takes
        // the scalar test from the leaf before it.
        for (; i + n <= count; i += n) {
            const double* b = walk.leaf(guess).bound;
            const auto p0 = hn::LoadU(d, point[0] + i);
            const auto p1 = hn::LoadU(d, point[1] + i);
            const auto p2 = hn::LoadU(d, point[2] + i);
            auto inside = hn::Lt(hn::Set(d, b[0]), p0);
            inside = hn::And(inside, hn::Lt(hn::Set(d, b[1]), p1));
            inside = hn::And(inside, hn::Lt(hn::Set(d, b[2]), p2));
            inside = hn::And(inside, hn::Le(p0, hn::Set(d, b[3])));
            inside = hn::And(inside, hn::Le(p1, hn::Set(d, b[4])));
            inside = hn::And(inside, hn::Le(p2, hn::Set(d, b[5])));
            if (hn::AllTrue(d, inside)) {
                for (int j = 0; j < n; ++j) {
                    leaves[i + j] = guess;
                }
                continue;
            }
            // The lanes that passed stand in the leaf tested, whatever the
            // failing ones find.
            const int tested = guess;
            uint8_t bits[8] = {};
            hn::StoreMaskBits(d, inside, bits);
            for (int j = 0; j < n; ++j) {
                if ((bits[0] >> j & 1) != 0) {
                    leaves[i + j] = tested;
                    continue;
                }
                guess = walk.locateNear(guess, {point[0][i + j], point[1][i + j], point[2][i + j]});
                leaves[i + j] = guess;
            }
            guess = leaves[i + n - 1];
        }
    }
    for (; i < count; ++i) {
        const Vec3 p{point[0][i], point[1][i], point[2][i]};
        guess = guess >= 0 ? walk.locateNear(guess, p) : walk.locate(p);
        leaves[i] = guess;
    }
}

void NearestHits(const FastWalk& walk, const PacketWalk::RayLanes& rays, const int* startLeaves,
                 int count, FastWalk::Hit* hits, FastWalk::Prediction* predictions) {
    // Two packets at a time, a step of one and a step of the other in turn:
    // each step is a long chain of dependent work (the leaf, the exit
    // division, the prediction), and the two chains overlap.
    const int n = Width();
    for (int i = 0; i < count; i += 2 * n) {
        const int first = count - i < n ? count - i : n;
        const int second = count - i - first < n ? count - i - first : n;
        Packet a(rays, i, startLeaves, first);
        Packet b(rays, i + first, startLeaves, second);
        for (;;) {
            const bool liveA = a.live(), liveB = b.live();
            if (liveA) {
                a.step(walk, predictions);
            }
            if (liveB) {
                b.step(walk, predictions);
            }
            if (!liveA && !liveB) {
                break;
            }
        }
        a.finish(hits + i);
        b.finish(hits + i + first);
    }
}

}  // namespace HWY_NAMESPACE
}  // namespace kelvo
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace kelvo {
HWY_EXPORT(NearestHits);
HWY_EXPORT(RaysThrough);
HWY_EXPORT(LocateAll);
HWY_EXPORT(JitteredPoints);
HWY_EXPORT(Width);
HWY_EXPORT(InstructionSet);

namespace PacketWalk {

void nearestHits(const FastWalk& walk, const RayLanes& rays, const int* startLeaves, int count,
                 FastWalk::Hit* hits, FastWalk::Prediction* predictions) {
    HWY_DYNAMIC_DISPATCH(NearestHits)(walk, rays, startLeaves, count, hits, predictions);
}

void raysThrough(const Camera& camera, const double* u, const double* v, int count,
                 double* const origin[3], double* const direction[3]) {
    HWY_DYNAMIC_DISPATCH(RaysThrough)(camera, u, v, count, origin, direction);
}

void jitteredPoints(std::uint32_t start, const std::uint32_t* const multiplier[2],
                    const std::uint32_t* const increment[2], int x0, int y, int count,
                    float scale, double pixelWidth, double pixelHeight, double* u, double* v) {
    HWY_DYNAMIC_DISPATCH(JitteredPoints)(start, multiplier, increment, x0, y, count, scale,
                                         pixelWidth, pixelHeight, u, v);
}

void locateAll(const FastWalk& walk, const double* const point[3], int count, int& guess,
               int* leaves) {
    HWY_DYNAMIC_DISPATCH(LocateAll)(walk, point, count, guess, leaves);
}

void nearestHits(const FastWalk& walk, const Ray* rays, const int* startLeaves, int count,
                 FastWalk::Hit* hits, FastWalk::Prediction* predictions) {
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
    nearestHits(walk, split, startLeaves, count, hits, predictions);
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
