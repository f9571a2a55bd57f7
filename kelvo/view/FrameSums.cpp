#include "kelvo/view/FrameSums.h"

#include <cstddef>
#include <cstdint>

#include "kelvo/view/Pixel.h"

namespace kelvo {

namespace {

// packColourQuick of sum / n, channel by channel: the three divisions in one
// instruction where there are lanes, each the same division to the bit.
inline std::uint32_t packMean(const vell::Colour& sum, float n) {
#if defined(__SSE2__)
    return packColourLanes(_mm_div_ps(_mm_set_ps(0.0f, sum.r, sum.g, sum.b), _mm_set1_ps(n)));
#else
    return packColourQuick(sum.r / n, sum.g / n, sum.b / n);
#endif
}

}  // namespace

void FrameSums::beginFrame(int width, int height) {
    if (width != width_ || height != height_) {
        width_ = width;
        height_ = height;
        samples_ = 0;
        sums_.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height),
                     vell::Colour{});
    }
    ++samples_;
}

void FrameSums::addRows(const vell::Colour* colours, int firstRow, int endRow,
                        std::uint32_t* pixels) {
    const std::size_t first = static_cast<std::size_t>(firstRow) * static_cast<std::size_t>(width_);
    const std::size_t count =
        static_cast<std::size_t>(endRow - firstRow) * static_cast<std::size_t>(width_);
    vell::Colour* sums = sums_.data() + first;
    // The first frame's sum is its colour: nothing to clear beforehand, and
    // its mean (divided by 1) is exactly the single frame.
    const bool firstFrame = samples_ == 1;
    const float n = static_cast<float>(samples_);
    std::size_t i = 0;
#if defined(__SSE2__)
    // Four pixels at a time: their twelve channels (r, g, b, r, ...) summed
    // in three vectors, then regrouped by channel; each lane the same sum,
    // division and rounding as one pixel's alone.
    static_assert(sizeof(vell::Colour) == 3 * sizeof(float), "colours are three floats");
    const __m128 divisor = _mm_set1_ps(n);
    const __m128 full = _mm_set1_ps(255.0f);
    const auto channel = [&](__m128 sum) {
        const __m128 scaled = _mm_mul_ps(_mm_div_ps(sum, divisor), full);
        return _mm_cvtps_epi32(_mm_min_ps(_mm_max_ps(scaled, _mm_setzero_ps()), full));
    };
    for (; i + 4 <= count; i += 4) {
        const float* in = &colours[i].r;
        float* sum = &sums[i].r;
        // The sums stream from memory a row at a time: ask for them some way
        // ahead, across the page boundaries where the hardware stops.
        _mm_prefetch(reinterpret_cast<const char*>(sum + 768), _MM_HINT_T0);
        __m128 v[3];
        for (int k = 0; k < 3; ++k) {
            v[k] = _mm_loadu_ps(in + 4 * k);
            if (!firstFrame) {
                v[k] = _mm_add_ps(_mm_loadu_ps(sum + 4 * k), v[k]);
            }
            _mm_storeu_ps(sum + 4 * k, v[k]);
        }
        // v[0] = r0 g0 b0 r1, v[1] = g1 b1 r2 g2, v[2] = b2 r3 g3 b3.
        const __m128 r23 = _mm_shuffle_ps(v[1], v[2], _MM_SHUFFLE(0, 1, 0, 2));  // r2 . r3 .
        const __m128 g23 = _mm_shuffle_ps(v[1], v[2], _MM_SHUFFLE(0, 2, 0, 3));  // g2 . g3 .
        const __m128 b01 = _mm_shuffle_ps(v[0], v[1], _MM_SHUFFLE(0, 1, 0, 2));  // b0 . b1 .
        const __m128 red = _mm_shuffle_ps(v[0], r23, _MM_SHUFFLE(2, 0, 3, 0));
        const __m128 green = _mm_shuffle_ps(_mm_shuffle_ps(v[0], v[1], _MM_SHUFFLE(0, 0, 0, 1)),
                                            g23, _MM_SHUFFLE(2, 0, 2, 0));
        const __m128 blue = _mm_shuffle_ps(b01, v[2], _MM_SHUFFLE(3, 0, 2, 0));
        // Blue in bits 0-7, green 8-15, red 16-23.
        const __m128i words = _mm_or_si128(
            _mm_or_si128(_mm_slli_epi32(channel(red), 16), _mm_slli_epi32(channel(green), 8)),
            channel(blue));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(pixels + i), words);
    }
#endif
    for (; i < count; ++i) {
        vell::Colour& s = sums[i];
        if (firstFrame) {
            s = colours[i];
        } else {
            s.r += colours[i].r;
            s.g += colours[i].g;
            s.b += colours[i].b;
        }
        pixels[i] = packMean(s, n);
    }
}

void FrameSums::showMean(std::uint32_t* pixels) const {
    const float n = static_cast<float>(samples_);
    for (const vell::Colour& s : sums_) {
        *pixels++ = packMean(s, n);
    }
}

}  // namespace kelvo
