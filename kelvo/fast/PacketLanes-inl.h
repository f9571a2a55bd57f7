// The lanes the packet files share, for each instruction set: included by
// PacketWalk.cpp, PacketRays.cpp and PacketDispatch.cpp after
// <hwy/highway.h>, once per target as foreach_target re-includes them (the
// guard below toggles with HWY_TARGET_TOGGLE, Highway's rule for per-target
// headers).
#if defined(KELVO_FAST_PACKET_LANES_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef KELVO_FAST_PACKET_LANES_INL_H_
#undef KELVO_FAST_PACKET_LANES_INL_H_
#else
#define KELVO_FAST_PACKET_LANES_INL_H_
#endif

#include <hwy/highway.h>

#include "kelvo/fast/PacketWalk.h"

HWY_BEFORE_NAMESPACE();
namespace kelvo {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// A vector of doubles, at most MAX_WIDTH lanes, and its unsigned twin.
using D = hn::CappedTag<double, PacketWalk::MAX_WIDTH>;
using DU = hn::RebindToUnsigned<D>;

// Lanes per vector on this instruction set.
inline int Width() { return static_cast<int>(hn::Lanes(D())); }

}  // namespace HWY_NAMESPACE
}  // namespace kelvo
HWY_AFTER_NAMESPACE();

#endif  // KELVO_FAST_PACKET_LANES_INL_H_
