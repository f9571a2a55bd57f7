#include "kelvo/fast/PacketWalk.h"

#include <algorithm>
#include <cstdint>

// The rays of the packet walk: the jittered image-plane points of a row's
// pixels, the camera's rays through them, and the leaves their origins stand
// in. Compiled once per instruction set; the source re-includes itself.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "kelvo/fast/PacketRays.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include "kelvo/fast/PacketLanes-inl.h"

HWY_BEFORE_NAMESPACE();
namespace kelvo {
namespace HWY_NAMESPACE {

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
            static_assert(hn::MaxLanes(D()) <= 8, "bits[0] holds every lane's bit");
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

}  // namespace HWY_NAMESPACE
}  // namespace kelvo
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace kelvo {
HWY_EXPORT(RaysThrough);
HWY_EXPORT(JitteredPoints);
HWY_EXPORT(LocateAll);

namespace PacketWalk {

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

}  // namespace PacketWalk
}  // namespace kelvo
#endif
