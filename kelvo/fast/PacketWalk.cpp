#include "kelvo/fast/PacketWalk.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "kelvo/world/World.h"

// The packet walk: the nearest-hit queries of rays in lanes. Compiled once
// per instruction set; the source re-includes itself. The rays' making and
// locating are in PacketRays.cpp, the choice of instruction set in
// PacketDispatch.cpp.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "kelvo/fast/PacketWalk.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include "kelvo/fast/PacketLanes-inl.h"

HWY_BEFORE_NAMESPACE();
namespace kelvo {
namespace HWY_NAMESPACE {

// One packet of at most K * Lanes(D) rays, K vectors per quantity. Lanes are
// grouped by the leaf they stand in; a group is examined with broadcast leaf
// data, then each of its lanes either ends or steps on. The arithmetic is the
// scalar walk's, operation for operation: separate multiplies and adds (no
// fused forms), the same divisions, and predicates with the scalar NaN
// behaviour. The step to the next leaf stays in the lanes while the
// remembered leaf of the exit face holds; a lane whose prediction fails takes
// the scalar step. The K vectors of a quantity go through the same
// instructions side by side, so their work overlaps under one control flow.
template <int K>
class Packet {
public:
    using V = hn::Vec<D>;
    using M = hn::Mask<D>;
    static constexpr int MAX_LANES = K * PacketWalk::MAX_WIDTH;

    // Vector k's lanes hold rays first[k] to first[k] + count[k] of rays
    // (count[k] at most Lanes(D)); where a vector holds fewer, those come
    // first.
    Packet(const PacketWalk::RayLanes& rays, const int* first, const int* count,
           const int* startLeaves, FastWalk::Mailbox& mailbox)
        : mailbox_(&mailbox), packet_(mailbox.nextQuery()) {
        const D d;
        const int n = static_cast<int>(hn::Lanes(d));
        const auto zero = hn::Zero(d);
        const auto three = hn::Set(d, 3.0);
        for (int k = 0; k < K; ++k) {
            first_[k] = first[k];
            count_[k] = count[k];
        }
        for (int k = 0; k < K; ++k) {
            const int base = first[k];
            const int here = count[k];
            const double* source[6] = {rays.origin[0],    rays.origin[1],    rays.origin[2],
                                       rays.direction[0], rays.direction[1], rays.direction[2]};
            V lane[6];
            if (here == n) {
                for (int c = 0; c < 6; ++c) {
                    lane[c] = hn::LoadU(d, source[c] + base);
                }
            } else {
                // Lanes beyond count repeat the packet's first ray (or are
                // zero in an empty packet) so that they compute harmless
                // values; they are never active.
                HWY_ALIGN double part[PacketWalk::MAX_WIDTH];
                for (int c = 0; c < 6; ++c) {
                    for (int i = 0; i < n; ++i) {
                        part[i] = count[0] == 0 ? 0.0 : source[c][i < here ? base + i : first[0]];
                    }
                    lane[c] = hn::Load(d, part);
                }
            }
            HWY_ALIGN double leafOf[PacketWalk::MAX_WIDTH];
            for (int i = 0; i < n; ++i) {
                leafOf[i] = i < here ? startLeaves[base + i] : -1.0;
            }
            o0_[k] = lane[0];
            o1_[k] = lane[1];
            o2_[k] = lane[2];
            d0_[k] = lane[3];
            d1_[k] = lane[4];
            d2_[k] = lane[5];
            a_[k] = hn::Add(hn::Add(hn::Mul(d0_[k], d0_[k]), hn::Mul(d1_[k], d1_[k])),
                            hn::Mul(d2_[k], d2_[k]));
            flat0_[k] = hn::Eq(d0_[k], zero);
            flat1_[k] = hn::Eq(d1_[k], zero);
            flat2_[k] = hn::Eq(d2_[k], zero);
            up0_[k] = hn::Gt(d0_[k], zero);
            up1_[k] = hn::Gt(d1_[k], zero);
            up2_[k] = hn::Gt(d2_[k], zero);
            face0_[k] = hn::IfThenElseZero(up0_[k], three);
            face1_[k] = hn::Add(hn::IfThenElseZero(up1_[k], three), hn::Set(d, 1.0));
            face2_[k] = hn::Add(hn::IfThenElseZero(up2_[k], three), hn::Set(d, 2.0));
            square0_[k] = hn::Mul(d0_[k], d0_[k]);
            square1_[k] = hn::Mul(d1_[k], d1_[k]);
            square2_[k] = hn::Mul(d2_[k], d2_[k]);
            t_[k] = hn::Set(d, NO_HIT_DISTANCE);
            best_[k] = hn::Set(d, -1.0);
            leaves_[k] = zero;
            h0_[k] = h1_[k] = h2_[k] = zero;
            along_[k] = zero;
            leafV_[k] = hn::Load(d, leafOf);
            active_[k] = hn::FirstN(d, static_cast<std::size_t>(here));
            missed_[k] = hn::Lt(zero, zero);
        }
    }

    bool live() const { return any(active_); }

    // Examines the leaf of the first active lane for every lane standing in
    // it: its spheres, then for the lanes that do not end there the step on.
    HWY_INLINE void step(const FastWalk& walk, FastWalk::Prediction* predictions) {
        const D d;
        const int n = static_cast<int>(hn::Lanes(d));
        const auto zero = hn::Zero(d);
        const auto one = hn::Set(d, 1.0);

        double current = laneOf(leafV_, active_);
        M group[K];
        bool apart = false;
        for (int k = 0; k < K; ++k) {
            group[k] = hn::And(active_[k], hn::Eq(leafV_[k], hn::Set(d, current)));
            apart = apart || !hn::AllFalse(d, hn::AndNot(group[k], active_[k]));
        }
        if (apart) {
            // The lanes are in several leaves: those furthest behind go first,
            // so that the others may catch up with them in a leaf they share
            // (fewer steps; any order gives the same answers).
            V behind = hn::IfThenElse(active_[0], along_[0], hn::Set(d, HUGE_VAL));
            for (int k = 1; k < K; ++k) {
                behind = hn::Min(behind,
                                 hn::IfThenElse(active_[k], along_[k], hn::Set(d, HUGE_VAL)));
            }
            const auto least = hn::MinOfLanes(d, behind);
            M last[K];
            for (int k = 0; k < K; ++k) {
                last[k] = hn::And(active_[k], hn::Eq(along_[k], least));
            }
            if (any(last)) {  // else NaN distances: keep the first
                current = laneOf(leafV_, last);
                for (int k = 0; k < K; ++k) {
                    group[k] = hn::And(active_[k], hn::Eq(leafV_[k], hn::Set(d, current)));
                }
            }
        }
        const int currentLeaf = static_cast<int>(current);
        const FastWalk::Leaf& l = walk.leaf(currentLeaf);

        if (l.obstacleCount > 0) {
            intersect(walk, l, group);
        }
        // Closed containment: a point on a face belongs to the leaf.
        M inside[K];
        bool anyInside = false;
        for (int k = 0; k < K; ++k) {
            inside[k] = hn::And(group[k], hn::Ge(best_[k], zero));
            anyInside = anyInside || !hn::AllFalse(d, inside[k]);
        }
        if (anyInside) {
            for (int k = 0; k < K; ++k) {
                auto in = inside[k];
                in = hn::And(in, hn::Not(hn::Gt(hn::Set(d, l.bound[0]), h0_[k])));
                in = hn::And(in, hn::Not(hn::Gt(hn::Set(d, l.bound[1]), h1_[k])));
                in = hn::And(in, hn::Not(hn::Gt(hn::Set(d, l.bound[2]), h2_[k])));
                in = hn::And(in, hn::Not(hn::Lt(hn::Set(d, l.bound[3]), h0_[k])));
                in = hn::And(in, hn::Not(hn::Lt(hn::Set(d, l.bound[4]), h1_[k])));
                in = hn::And(in, hn::Not(hn::Lt(hn::Set(d, l.bound[5]), h2_[k])));
                inside[k] = in;
            }
        }
        // Lanes that end here keep this leaf and their t.
        M moving[K];
        for (int k = 0; k < K; ++k) {
            active_[k] = hn::AndNot(inside[k], active_[k]);
            moving[k] = hn::AndNot(inside[k], group[k]);
        }
        if (!any(moving)) {
            return;
        }

        // The exit face: per axis the face ahead, then the sequential choice
        // of the smallest t without dividing (ties keep the lower axis). The
        // squares of the direction are the per-ray products the scalar step
        // forms each time, to the bit.
        const auto low0 = hn::Set(d, l.face[0]), high0 = hn::Set(d, l.face[3]);
        const auto low1 = hn::Set(d, l.face[1]), high1 = hn::Set(d, l.face[4]);
        const auto low2 = hn::Set(d, l.face[2]), high2 = hn::Set(d, l.face[5]);
        V face[K], p0[K], p1[K], p2[K];
        M unset[K];
        for (int k = 0; k < K; ++k) {
            leaves_[k] = hn::IfThenElse(moving[k], hn::Add(leaves_[k], one), leaves_[k]);
            const auto o0 = o0_[k], o1 = o1_[k], o2 = o2_[k];
            const auto d0 = d0_[k], d1 = d1_[k], d2 = d2_[k];
            const auto num0 = hn::Sub(hn::IfThenElse(up0_[k], high0, low0), o0);
            const auto num1 = hn::Sub(hn::IfThenElse(up1_[k], high1, low1), o1);
            const auto num2 = hn::Sub(hn::IfThenElse(up2_[k], high2, low2), o2);
            auto u = flat0_[k];
            auto f = face0_[k];
            auto numB = num0;
            auto dB = d0;
            auto dB2 = square0_[k];
            const auto take1 = hn::AndNot(
                flat1_[k], hn::Or(u, hn::Lt(hn::Mul(hn::Mul(num1, d1), dB2),
                                            hn::Mul(hn::Mul(numB, dB), square1_[k]))));
            u = hn::AndNot(take1, u);
            f = hn::IfThenElse(take1, face1_[k], f);
            numB = hn::IfThenElse(take1, num1, numB);
            dB = hn::IfThenElse(take1, d1, dB);
            dB2 = hn::IfThenElse(take1, square1_[k], dB2);
            const auto take2 = hn::AndNot(
                flat2_[k], hn::Or(u, hn::Lt(hn::Mul(hn::Mul(num2, d2), dB2),
                                            hn::Mul(hn::Mul(numB, dB), square2_[k]))));
            u = hn::AndNot(take2, u);
            f = hn::IfThenElse(take2, face2_[k], f);
            numB = hn::IfThenElse(take2, num2, numB);
            dB = hn::IfThenElse(take2, d2, dB);
            const auto tt = hn::Div(numB, dB);
            along_[k] = hn::IfThenElse(moving[k], tt, along_[k]);
            p0[k] = hn::Add(hn::Mul(d0, tt), o0);
            p1[k] = hn::Add(hn::Mul(d1, tt), o1);
            p2[k] = hn::Add(hn::Mul(d2, tt), o2);
            face[k] = f;
            unset[k] = u;
        }

        // One exit face at a time: lanes leaving the domain through it end
        // there, a miss that keeps its last leaf and t; the others take the
        // face's remembered leaf where the exit point passes every comparison
        // the descent would make (low < p, p <= high).
        V leafV[K];
        M stepped[K], remaining[K];
        for (int k = 0; k < K; ++k) {
            leafV[k] = leafV_[k];
            // A zero direction leaves by no face: a miss, as at the domain's
            // boundary.
            const auto stuck = hn::And(moving[k], unset[k]);
            missed_[k] = hn::Or(missed_[k], stuck);
            active_[k] = hn::AndNot(stuck, active_[k]);
            stepped[k] = stuck;
            remaining[k] = hn::AndNot(unset[k], moving[k]);
        }
        while (any(remaining)) {
            const int f = static_cast<int>(laneOf(face, remaining));
            M same[K];
            for (int k = 0; k < K; ++k) {
                same[k] = hn::And(remaining[k], hn::Eq(face[k], hn::Set(d, static_cast<double>(f))));
                remaining[k] = hn::AndNot(same[k], remaining[k]);
            }
            if (l.entry[f] < 0) {
                for (int k = 0; k < K; ++k) {
                    missed_[k] = hn::Or(missed_[k], same[k]);
                    active_[k] = hn::AndNot(same[k], active_[k]);
                    stepped[k] = hn::Or(stepped[k], same[k]);
                }
                continue;
            }
            if (predictions == nullptr || predictions[currentLeaf * 6 + f].leaf < 0) {
                continue;
            }
            const FastWalk::Prediction& guess = predictions[currentLeaf * 6 + f];
            const auto lo0 = hn::Set(d, guess.low[0]), hi0 = hn::Set(d, guess.high[0]);
            const auto lo1 = hn::Set(d, guess.low[1]), hi1 = hn::Set(d, guess.high[1]);
            const auto lo2 = hn::Set(d, guess.low[2]), hi2 = hn::Set(d, guess.high[2]);
            const auto next = hn::Set(d, static_cast<double>(guess.leaf));
            for (int k = 0; k < K; ++k) {
                auto pass = hn::And(same[k], hn::Lt(lo0, p0[k]));
                pass = hn::And(pass, hn::Lt(lo1, p1[k]));
                pass = hn::And(pass, hn::Lt(lo2, p2[k]));
                pass = hn::And(pass, hn::Le(p0[k], hi0));
                pass = hn::And(pass, hn::Le(p1[k], hi1));
                pass = hn::And(pass, hn::Le(p2[k], hi2));
                leafV[k] = hn::IfThenElse(pass, next, leafV[k]);
                stepped[k] = hn::Or(stepped[k], pass);
            }
        }
        M slow[K];
        for (int k = 0; k < K; ++k) {
            slow[k] = hn::AndNot(stepped[k], moving[k]);
            leafV_[k] = leafV[k];
        }
        if (HWY_LIKELY(!any(slow))) {
            return;
        }
        HWY_ALIGN double leafOf[MAX_LANES];
        HWY_ALIGN double faceOf[MAX_LANES];
        for (int k = 0; k < K; ++k) {
            hn::Store(leafV[k], d, leafOf + k * n);
            hn::Store(face[k], d, faceOf + k * n);
        }
        // A vector's mask bits are all in the first byte StoreMaskBits writes.
        static_assert(hn::MaxLanes(D()) <= 8, "slowBytes[0] holds every lane's bit");
        for (int k = 0; k < K; ++k) {
            if (hn::AllFalse(d, slow[k])) {
                continue;
            }
            uint8_t slowBytes[8] = {};
            hn::StoreMaskBits(d, slow[k], slowBytes);
            HWY_ALIGN double p[3][PacketWalk::MAX_WIDTH];
            hn::Store(p0[k], d, p[0]);
            hn::Store(p1[k], d, p[1]);
            hn::Store(p2[k], d, p[2]);
            for (unsigned bits = slowBytes[0]; bits != 0; bits &= bits - 1) {
                const int i = __builtin_ctz(bits);
                const double point[3] = {p[0][i], p[1][i], p[2][i]};
                leafOf[k * n + i] = walk.enter(currentLeaf, static_cast<int>(faceOf[k * n + i]),
                                               point, predictions);
            }
        }
        for (int k = 0; k < K; ++k) {
            leafV_[k] = hn::Load(d, leafOf + k * n);
        }
    }

    // The spheres of leaf l that the lanes of group have not yet tested, in
    // the leaf's order: the nearest hit so far, and its point.
    HWY_INLINE void intersect(const FastWalk& walk, const FastWalk::Leaf& l, const M* group) {
        const D d;
        const auto zero = hn::Zero(d);
        static_assert(K <= 4, "a packet's lanes fit the mailbox's 32 bits, a byte per vector");
        std::uint32_t asking = 0;
        for (int k = 0; k < K; ++k) {
            std::uint8_t bits[8] = {};
            hn::StoreMaskBits(d, group[k], bits);
            asking |= std::uint32_t{bits[0]} << (8 * k);
        }
        V find[K], t[K];
        for (int k = 0; k < K; ++k) {
            find[k] = hn::Set(d, -1.0);
            t[k] = t_[k];
        }
        const std::int32_t* list = walk.leafList() + l.firstObstacle;
        for (int j = 0; j < l.obstacleCount; ++j) {
            const int s = list[j];
            const std::uint32_t freshBits = mailbox_->firstTests(s, packet_, asking);
            if (freshBits == 0) {
                continue;
            }
            M fresh[K];
            for (int k = 0; k < K; ++k) {
                const std::uint8_t bits[8] = {static_cast<std::uint8_t>(freshBits >> (8 * k))};
                fresh[k] = hn::LoadMaskBits(d, bits);
            }
            const FastWalk::Sphere& sphere = walk.sphere(s);
            const auto c0 = hn::Set(d, sphere.centre[0]);
            const auto c1 = hn::Set(d, sphere.centre[1]);
            const auto c2 = hn::Set(d, sphere.centre[2]);
            const auto r2 = hn::Set(d, sphere.radiusSquared);
            const auto index = hn::Set(d, static_cast<double>(s));
            M solved[K];
            V b[K], disc[K];
            bool anySolved = false;
            for (int k = 0; k < K; ++k) {
                const auto e0 = hn::Sub(o0_[k], c0);
                const auto e1 = hn::Sub(o1_[k], c1);
                const auto e2 = hn::Sub(o2_[k], c2);
                b[k] = hn::Add(hn::Add(hn::Mul(e0, d0_[k]), hn::Mul(e1, d1_[k])),
                               hn::Mul(e2, d2_[k]));
                const auto kk = hn::Sub(
                    hn::Add(hn::Add(hn::Mul(e0, e0), hn::Mul(e1, e1)), hn::Mul(e2, e2)), r2);
                disc[k] = hn::Sub(hn::Mul(b[k], b[k]), hn::Mul(a_[k], kk));
                // "Not less than" keeps NaN a hit, as the scalar !(disc < 0) does.
                solved[k] = hn::And(fresh[k], hn::Not(hn::Lt(disc[k], zero)));
                anySolved = anySolved || !hn::AllFalse(d, solved[k]);
            }
            if (!anySolved) {
                continue;
            }
            for (int k = 0; k < K; ++k) {
                const auto u = hn::Div(hn::Neg(hn::Add(b[k], hn::Sqrt(disc[k]))), a_[k]);
                const auto take = hn::And(solved[k], hn::And(hn::Gt(u, zero), hn::Lt(u, t[k])));
                t[k] = hn::IfThenElse(take, u, t[k]);
                find[k] = hn::IfThenElse(take, index, find[k]);
            }
        }
        for (int k = 0; k < K; ++k) {
            t_[k] = t[k];
            const auto found = hn::Ge(find[k], zero);
            best_[k] = hn::IfThenElse(found, find[k], best_[k]);
            h0_[k] = hn::IfThenElse(found, hn::Add(o0_[k], hn::Mul(t[k], d0_[k])), h0_[k]);
            h1_[k] = hn::IfThenElse(found, hn::Add(o1_[k], hn::Mul(t[k], d1_[k])), h1_[k]);
            h2_[k] = hn::IfThenElse(found, hn::Add(o2_[k], hn::Mul(t[k], d2_[k])), h2_[k]);
        }
    }

    // Each lane's answer into hits at its ray's index.
    void finish(FastWalk::Hit* hits) const {
        const D d;
        const int n = static_cast<int>(hn::Lanes(d));
        HWY_ALIGN double tLane[MAX_LANES], bestLane[MAX_LANES], leavesLane[MAX_LANES],
            leafLane[MAX_LANES];
        for (int k = 0; k < K; ++k) {
            hn::Store(leafV_[k], d, leafLane + k * n);
            hn::Store(t_[k], d, tLane + k * n);
            hn::Store(hn::IfThenElse(missed_[k], hn::Set(d, -1.0), best_[k]), d, bestLane + k * n);
            hn::Store(leaves_[k], d, leavesLane + k * n);
        }
        for (int k = 0; k < K; ++k) {
            for (int i = 0; i < count_[k]; ++i) {
                const int at = k * n + i;
                hits[first_[k] + i] = {static_cast<int>(bestLane[at]), tLane[at],
                                       static_cast<int>(leavesLane[at]),
                                       static_cast<int>(leafLane[at]), 0};
            }
        }
    }

private:
    static bool any(const M* m) {
        const D d;
        bool result = false;
        for (int k = 0; k < K; ++k) {
            result = result || !hn::AllFalse(d, m[k]);
        }
        return result;
    }
    // The value of v in the packet's first lane where m is true (one there
    // must be), taken without a round trip through memory.
    static double laneOf(const V* v, const M* m) {
        const D d;
        const hn::RebindToSigned<D> di;
        for (int k = 0; k < K - 1; ++k) {
            if (!hn::AllFalse(d, m[k])) {
                const auto at = hn::Set(di, static_cast<std::int64_t>(hn::FindKnownFirstTrue(d, m[k])));
                return hn::GetLane(hn::TableLookupLanes(v[k], hn::IndicesFromVec(d, at)));
            }
        }
        const auto at = hn::Set(di, static_cast<std::int64_t>(hn::FindKnownFirstTrue(d, m[K - 1])));
        return hn::GetLane(hn::TableLookupLanes(v[K - 1], hn::IndicesFromVec(d, at)));
    }

    int first_[K], count_[K];
    V o0_[K], o1_[K], o2_[K], d0_[K], d1_[K], d2_[K], a_[K];
    // Per axis: whether the direction is zero there ("equal to zero", so
    // that NaN counts as non-zero), whether it points up, the face ahead and
    // the direction's square.
    M flat0_[K], flat1_[K], flat2_[K], up0_[K], up1_[K], up2_[K];
    V face0_[K], face1_[K], face2_[K], square0_[K], square1_[K], square2_[K];
    V t_[K], best_[K], leaves_[K], h0_[K], h1_[K], h2_[K];
    // The worker's tested-once marks, and this packet's number in them.
    FastWalk::Mailbox* mailbox_;
    std::uint32_t packet_;
    // How far along its ray each lane has come: the distance to the face it
    // last crossed.
    V along_[K];
    // The leaf each lane stands in, as a double (exact for any leaf index).
    V leafV_[K];
    M active_[K];
    // Lanes that left the domain: misses whatever they found on the way.
    M missed_[K];
};

// Two vectors a packet: each step is a long chain of dependent work (the
// leaf, the exit division, the prediction), and the two vectors' halves of it
// overlap. Two packets of one vector stepped in turn overlap less, and more
// vectors a packet cost more in registers than they gain.
constexpr int PACKET_VECTORS = 2;

// One packet's queries, vector k holding rays first[k] to first[k] + count[k],
// answered into hits at the rays' indices.
template <int K = PACKET_VECTORS>
HWY_INLINE void WalkPacket(const FastWalk& walk, const PacketWalk::RayLanes& rays,
                           const int* first, const int* count, const int* startLeaves,
                           FastWalk::Hit* hits, FastWalk::Prediction* predictions,
                           FastWalk::Mailbox& mailbox) {
    Packet<K> packet(rays, first, count, startLeaves, mailbox);
    while (packet.live()) {
        packet.step(walk, predictions);
    }
    packet.finish(hits);
}

void NearestHits(const FastWalk& walk, const PacketWalk::RayLanes& rays, const int* startLeaves,
                 int count, FastWalk::Hit* hits, FastWalk::Prediction* predictions,
                 FastWalk::Mailbox& mailbox, int vectors) {
    const int w = Width();
    if (vectors == 0) {
        vectors = walk.leafCount() >= PacketWalk::NARROW_PACKET_LEAVES ? 1 : PACKET_VECTORS;
    }
    if (vectors == 1) {
        for (int i = 0; i < count; i += w) {
            const int first[1] = {i};
            const int here[1] = {std::min(count - i, w)};
            WalkPacket<1>(walk, rays, first, here, startLeaves, hits, predictions, mailbox);
        }
        return;
    }
    for (int i = 0; i < count; i += PACKET_VECTORS * w) {
        int first[PACKET_VECTORS], here[PACKET_VECTORS];
        for (int k = 0; k < PACKET_VECTORS; ++k) {
            first[k] = i + k * w;
            here[k] = std::clamp(count - first[k], 0, w);
        }
        WalkPacket(walk, rays, first, here, startLeaves, hits, predictions, mailbox);
    }
}

void NearestHitsInRows(const FastWalk& walk, const PacketWalk::RayLanes& rays,
                       const int* startLeaves, int count, FastWalk::Hit* hits,
                       FastWalk::Prediction* predictions, FastWalk::Mailbox& mailbox,
                       int stride) {
    // A packet is a tile: one vector from each row, above one another.
    static_assert(PACKET_VECTORS == 2, "a tile of two rows fills one packet");
    const int w = Width();
    for (int i = 0; i < count; i += w) {
        const int here = count - i < w ? count - i : w;
        const int first[PACKET_VECTORS] = {i, stride + i};
        const int counts[PACKET_VECTORS] = {here, here};
        WalkPacket(walk, rays, first, counts, startLeaves, hits, predictions, mailbox);
    }
}

}  // namespace HWY_NAMESPACE
}  // namespace kelvo
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace kelvo {
HWY_EXPORT(NearestHits);
HWY_EXPORT(NearestHitsInRows);

namespace PacketWalk {

void nearestHits(const FastWalk& walk, const RayLanes& rays, const int* startLeaves, int count,
                 FastWalk::Hit* hits, FastWalk::Prediction* predictions,
                 FastWalk::Mailbox* mailbox, int vectors) {
    FastWalk::Mailbox own;
    if (mailbox == nullptr) {
        own.resize(walk.obstacleCount());
        mailbox = &own;
    }
    HWY_DYNAMIC_DISPATCH(NearestHits)(walk, rays, startLeaves, count, hits, predictions, *mailbox,
                                      vectors);
}

void nearestHitsInRows(const FastWalk& walk, const RayLanes& rays, const int* startLeaves,
                       int count, FastWalk::Hit* hits, FastWalk::Prediction* predictions,
                       FastWalk::Mailbox* mailbox, int stride) {
    FastWalk::Mailbox own;
    if (mailbox == nullptr) {
        own.resize(walk.obstacleCount());
        mailbox = &own;
    }
    HWY_DYNAMIC_DISPATCH(NearestHitsInRows)(walk, rays, startLeaves, count, hits, predictions,
                                            *mailbox, stride == 0 ? count : stride);
}

}  // namespace PacketWalk
}  // namespace kelvo
#endif
