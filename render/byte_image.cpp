// Float channels to bytes by a chosen rounding rule, and the calibration that chooses the rule.
// Highway compiles the per-target part (one vector pass per rule) once for every target it knows
// (foreach_target.h includes this file again for each); the rest is plain C++.
#include "byte_image.h"

#include <algorithm>
#include <cmath>
#include <limits>

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "byte_image.cpp"
#include <hwy/foreach_target.h>  // must come before highway.h
#include <hwy/highway.h>

HWY_BEFORE_NAMESPACE();
namespace julia_bytes {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// The image is floats R, G, B, A after each other, so a pass runs over them as one array: each
// float is clamped to [0, 1] (a NaN to 0), scaled by 255 and rounded by `round`. Returns the floats
// it did; the caller does the rest, fewer than one vector.
template <class Round>
size_t ToBytes(const float* in, uint8_t* out, size_t n, const Round& round) {
    const hn::ScalableTag<float> df;
    const hn::Rebind<uint8_t, hn::RebindToSigned<decltype(df)>> du8;
    const auto zero = hn::Zero(df), one = hn::Set(df, 1.0f);
    const size_t lanes = hn::Lanes(df);
    size_t k = 0;
    for (; k + lanes <= n; k += lanes) {
        // Max first: x86's max gives its second operand, 0, for a NaN.
        const auto c = hn::Min(hn::Max(hn::LoadU(df, in + k), zero), one);
        hn::StoreU(hn::DemoteTo(du8, round(c)), du8, out + k);
    }
    return k;
}

// The rules of ByteRule, in its order, each lane as channelByte rounds it.
size_t RuleBytes(int rule, const float* in, uint8_t* out, size_t n) {
    const hn::ScalableTag<float> df;
    const hn::RebindToSigned<decltype(df)> di;
    const auto scale = hn::Set(df, 255.0f), half = hn::Set(df, 0.5f), one = hn::Set(df, 1.0f);
    switch (rule) {
        case 0:  // ties to even, as the rounding mode does
            return ToBytes(in, out, n, [&](auto c) { return hn::NearestInt(hn::Mul(c, scale)); });
        case 1:
            return ToBytes(in, out, n, [&](auto c) {
                const auto p = hn::Mul(c, scale), f = hn::Floor(p);
                const auto up = hn::Ge(hn::Sub(p, f), half);
                return hn::ConvertTo(di, hn::IfThenElse(up, hn::Add(f, one), f));
            });
        case 2:
            // Only a tie in the float product can round otherwise than the exact one; there the
            // sign of the product's rounding error decides (none: a tie in the exact product too,
            // c = 0.5, to even). c = hi + lo, hi with 12 significant bits: hi * 255 and lo * 255
            // are exact, and so is hi * 255 - p (the two are close), so err has the error's sign.
            return ToBytes(in, out, n, [&](auto c) {
                const auto p = hn::Mul(c, scale), f = hn::Floor(p), zero = hn::Zero(df);
                const auto hi = hn::And(c, hn::BitCast(df, hn::Set(di, int32_t(0xFFFFF000u))));
                const auto err =
                    hn::Add(hn::Sub(hn::Mul(hi, scale), p), hn::Mul(hn::Sub(c, hi), scale));
                const auto inexactTie = hn::And(hn::Eq(hn::Sub(p, f), half), hn::Ne(err, zero));
                const auto atTie = hn::IfThenElse(hn::Gt(err, zero), hn::Add(f, one), f);
                return hn::IfThenElse(hn::RebindMask(di, inexactTie), hn::ConvertTo(di, atTie),
                                      hn::NearestInt(p));
            });
        default:  // the sum in float, truncated
            return ToBytes(in, out, n, [&](auto c) {
                return hn::ConvertTo(di, hn::Add(hn::Mul(c, scale), half));
            });
    }
}

}  // namespace HWY_NAMESPACE
}  // namespace julia_bytes
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace julia_bytes {
HWY_EXPORT(RuleBytes);

namespace {

// NaN to 0, as the vector pass does.
float clamp01(float c) {
    return c > 0.0f ? (c < 1.0f ? c : 1.0f) : 0.0f;
}

}  // namespace
}  // namespace julia_bytes

const char* byteRuleName(ByteRule rule) {
    switch (rule) {
        case ByteRule::HalfEven: return "round half to even";
        case ByteRule::HalfUp: return "round half up";
        case ByteRule::Exact: return "round the exact product";
        case ByteRule::AddTruncate: return "add one half and truncate";
    }
    return "?";
}

uint8_t channelByte(ByteRule rule, float c) {
    const float x = julia_bytes::clamp01(c);
    const float p = x * 255.0f;
    switch (rule) {
        case ByteRule::HalfEven: return static_cast<uint8_t>(lrintf(p));
        case ByteRule::HalfUp: {
            const float f = floorf(p);
            return static_cast<uint8_t>(f + (p - f >= 0.5f ? 1.0f : 0.0f));
        }
        // x * 255 is exact in double (24 + 8 bits); its one tie, 0.5 * 255, goes to even.
        case ByteRule::Exact: return static_cast<uint8_t>(lrint(static_cast<double>(x) * 255.0));
        case ByteRule::AddTruncate: return static_cast<uint8_t>(p + 0.5f);
    }
    return 0;
}

void imageToBytes(ByteRule rule, const float4* pixels, uint8_t* rgba, size_t count) {
    const float* in = reinterpret_cast<const float*>(pixels);
    const size_t n = 4 * count;
    size_t k = HWY_DYNAMIC_DISPATCH(julia_bytes::RuleBytes)(static_cast<int>(rule), in, rgba, n);
    for (; k < n; k++) rgba[k] = channelByte(rule, in[k]);
}

std::vector<float> calibrationValues() {
    constexpr float inf = std::numeric_limits<float>::infinity();
    std::vector<float> v;
    for (int k = 0; k < 255; k++) {
        float below = static_cast<float>((k + 0.5) / 255.0), above = below;
        v.push_back(below);
        for (int step = 0; step < 2; step++) {
            below = nextafterf(below, -inf);
            above = nextafterf(above, inf);
            v.push_back(below);
            v.push_back(above);
        }
    }
    // The colours 1 - i / limit whose float product with 255 is an exact tie.
    for (int limit = 2; limit <= 1000; limit++) {
        for (int i = 1; i < limit; i++) {
            const float c = 1.0f - static_cast<float>(i) / static_cast<float>(limit);
            const float p = c * 255.0f;
            if (p - floorf(p) == 0.5f) v.push_back(c);
        }
    }
    const float tiny = std::numeric_limits<float>::denorm_min();
    for (float c : {0.0f, tiny, 1.0f, nextafterf(1.0f, 2.0f), 1.5f, 2.0f, 255.0f, -tiny, -0.25f,
                    -1.0f}) {
        v.push_back(c);
    }
    std::sort(v.begin(), v.end());
    v.erase(std::unique(v.begin(), v.end()), v.end());
    return v;
}

std::vector<float4> calibrationImage(int width) {
    const std::vector<float> v = calibrationValues();
    const size_t n = v.size();
    const size_t rows = (n + width - 1) / width;
    std::vector<float4> image(rows * width, float4{0.0f, 0.0f, 0.0f, 1.0f});
    for (size_t k = 0; k < n; k++) image[k] = {v[k], v[(k + 1) % n], v[(k + 2) % n], 1.0f};
    return image;
}

bool sameColours(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    if (a.size() != b.size() || a.size() % 4 != 0) return false;
    for (size_t k = 0; k < a.size(); k += 4) {
        if (a[k] != b[k] || a[k + 1] != b[k + 1] || a[k + 2] != b[k + 2]) return false;
    }
    return true;
}

bool chooseByteRule(const std::vector<float4>& image, const std::vector<uint8_t>& readback,
                    ByteRule* rule) {
    std::vector<uint8_t> bytes(4 * image.size());
    for (ByteRule r : BYTE_RULES) {
        imageToBytes(r, image.data(), bytes.data(), image.size());
        if (sameColours(bytes, readback)) {
            *rule = r;
            return true;
        }
    }
    return false;
}
#endif  // HWY_ONCE
