#pragma once
// Source-over blending of one colour into premultiplied ARGB32 pixels, with the usual
// byte arithmetic (each channel times a/255, rounded).

#include <cstdint>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quelvan {

// Every byte of `x` times a/255.
inline std::uint32_t ByteMul(std::uint32_t x, std::uint32_t a) {
    std::uint32_t t = (x & 0xFF00FFu) * a;
    t = ((t + ((t >> 8) & 0xFF00FFu) + 0x800080u) >> 8) & 0xFF00FFu;
    x = ((x >> 8) & 0xFF00FFu) * a;
    x = (x + ((x >> 8) & 0xFF00FFu) + 0x800080u) & 0xFF00FF00u;
    return x | t;
}

// Sets `count` pixels to `argb`, four at a time where SSE2 is available.
inline void FillPixels(std::uint32_t* pixels, int count, std::uint32_t argb) {
    int i = 0;
#if defined(__SSE2__)
    const __m128i value = _mm_set1_epi32(static_cast<int>(argb));
    for (; i + 4 <= count; i += 4) _mm_storeu_si128(reinterpret_cast<__m128i*>(pixels + i), value);
#endif
    for (; i < count; ++i) pixels[i] = argb;
}

// `argb` ($AARRGGBB, not premultiplied) drawn with `coverage` (0..1) of its alpha.
class SolidBlend {
public:
    SolidBlend(std::uint32_t argb, float coverage) {
        const float alpha = static_cast<float>(argb >> 24) * coverage;
        const auto a = static_cast<std::uint32_t>(alpha <= 0.0f ? 0.0f : alpha >= 255.0f ? 255.0f : alpha + 0.5f);
        source_ = ByteMul(0xFF000000u | (argb & 0xFFFFFFu), a);
        keep_ = 255u - a;
        visible_ = a != 0;
    }
    bool Visible() const { return visible_; }
    void Apply(std::uint32_t& pixel) const { pixel = source_ + ByteMul(pixel, keep_); }
    // A run of pixels: the bulk of a filled area, four pixels at a time where SSE2 is
    // available, with the same arithmetic as the single pixel.
    void Apply(std::uint32_t* pixels, int count) const {
        int i = 0;
#if defined(__SSE2__)
        const __m128i keep = _mm_set1_epi16(static_cast<short>(keep_));
        const __m128i half = _mm_set1_epi16(0x80);
        const __m128i source = _mm_set1_epi32(static_cast<int>(source_));
        const __m128i zero = _mm_setzero_si128();
        auto mul = [&](__m128i x) {
            const __m128i t = _mm_mullo_epi16(x, keep);
            return _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(t, _mm_srli_epi16(t, 8)), half), 8);
        };
        auto blend4 = [&](std::uint32_t* four) {
            auto* at = reinterpret_cast<__m128i*>(four);
            const __m128i p = _mm_loadu_si128(at);
            const __m128i lo = mul(_mm_unpacklo_epi8(p, zero));
            const __m128i hi = mul(_mm_unpackhi_epi8(p, zero));
            _mm_storeu_si128(at, _mm_add_epi8(_mm_packus_epi16(lo, hi), source));
        };
        for (; i + 8 <= count; i += 8) {
            blend4(pixels + i);
            blend4(pixels + i + 4);
        }
        for (; i + 4 <= count; i += 4) blend4(pixels + i);
#endif
        for (; i < count; ++i) pixels[i] = source_ + ByteMul(pixels[i], keep_);
    }

private:
    std::uint32_t source_ = 0;
    std::uint32_t keep_ = 255;
    bool visible_ = false;
};

}  // namespace quelvan
