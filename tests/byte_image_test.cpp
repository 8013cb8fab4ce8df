// The 8-bit draw's conversion and its calibration, without a window: the candidate rules at the
// ties real images hold, the vector pass against the scalar rule, a calibration that tells every
// rule from every other, and the choice from a readback that matches a rule or none.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include <gtest/gtest.h>
#include <hwy/targets.h>

#include "byte_image.h"

namespace {

constexpr size_t kRules = sizeof BYTE_RULES / sizeof BYTE_RULES[0];

std::vector<uint8_t> bytesOf(ByteRule rule, const std::vector<float4>& image) {
    std::vector<uint8_t> b(4 * image.size());
    imageToBytes(rule, image.data(), b.data(), image.size());
    return b;
}

// Rules in BYTE_RULES order: half even, half up, exact product, add one half and truncate.
TEST(ByteRules, TiesAndTheEnds) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const struct {
        float c;
        uint8_t bytes[kRules];
    } cases[] = {
        {0.9f, {230, 230, 229, 230}},              // limit 10, escape index 1: 229.5 in float
        {1.0f - 1.0f / 6.0f, {212, 213, 212, 213}},  // limit 6: 212.5 in float
        {0.5f, {128, 128, 128, 128}},  // 127.5 even in the exact product
        {0.5f / 255.0f, {0, 1, 1, 1}},  // the float product is exactly 0.5, the exact one above
        {0.0f, {0, 0, 0, 0}},
        {1.0f, {255, 255, 255, 255}},
        {-0.25f, {0, 0, 0, 0}},
        {1.5f, {255, 255, 255, 255}},
        {nan, {0, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        for (size_t r = 0; r < kRules; r++) {
            EXPECT_EQ(channelByte(BYTE_RULES[r], c.c), c.bytes[r])
                << byteRuleName(BYTE_RULES[r]) << " of " << c.c;
        }
    }
}

// The vector pass (and its scalar tail: the pixel count is odd) gives the scalar rule's bytes,
// channel by channel, for every calibration value in every channel, on every vector target this
// CPU runs.
TEST(ByteRules, ImageToBytesIsTheRulePerChannel) {
    std::vector<float4> image = calibrationImage(1024);
    image.pop_back();
    ASSERT_EQ(image.size() % 2, 1u);
    const float* c = reinterpret_cast<const float*>(image.data());
    for (const int64_t target : hwy::SupportedAndGeneratedTargets()) {
        hwy::SetSupportedTargetsForTest(target);  // the dispatch now picks this target
        for (ByteRule rule : BYTE_RULES) {
            const std::vector<uint8_t> b = bytesOf(rule, image);
            size_t wrong = 0;
            for (size_t k = 0; k < b.size(); k++) wrong += b[k] != channelByte(rule, c[k]);
            EXPECT_EQ(wrong, 0u) << byteRuleName(rule) << " on " << hwy::TargetName(target);
        }
    }
    hwy::SetSupportedTargetsForTest(0);  // back to what the CPU runs
}

// Every value in each colour channel, alpha 1; and for any two rules some value that tells them
// apart, so the calibration's choice is never a guess between two.
TEST(Calibration, HoldsEveryValueAndTellsTheRulesApart) {
    const std::vector<float> v = calibrationValues();
    for (float c : {0.0f, 1.0f, 0.9f, 1.0f - 1.0f / 6.0f, -0.25f, 1.5f}) {
        EXPECT_TRUE(std::binary_search(v.begin(), v.end(), c)) << c;
    }
    const int width = 1024;
    const std::vector<float4> image = calibrationImage(width);
    ASSERT_EQ(image.size() % width, 0u);
    ASSERT_GE(image.size(), v.size());
    for (int channel = 0; channel < 3; channel++) {
        std::vector<float> seen;
        for (size_t k = 0; k < v.size(); k++) seen.push_back((&image[k].x)[channel]);
        std::sort(seen.begin(), seen.end());
        EXPECT_EQ(seen, v) << "channel " << channel;
    }
    for (const float4& p : image) ASSERT_EQ(p.w, 1.0f);

    for (size_t a = 0; a < kRules; a++) {
        for (size_t b = a + 1; b < kRules; b++) {
            EXPECT_NE(bytesOf(BYTE_RULES[a], image), bytesOf(BYTE_RULES[b], image))
                << byteRuleName(BYTE_RULES[a]) << " and " << byteRuleName(BYTE_RULES[b]);
        }
    }
}

// A readback made by each rule picks that rule, whatever the window's alpha; one that no rule
// makes, or one of another size, picks none and leaves the rule alone.
TEST(Calibration, ChoosesTheRuleTheReadbackShowsOrNone) {
    const std::vector<float4> image = calibrationImage(1024);
    for (ByteRule rule : BYTE_RULES) {
        std::vector<uint8_t> shown = bytesOf(rule, image);
        for (size_t k = 3; k < shown.size(); k += 4) shown[k] = 0;  // a window without alpha
        ByteRule chosen = ByteRule::AddTruncate;
        EXPECT_TRUE(chooseByteRule(image, shown, &chosen)) << byteRuleName(rule);
        EXPECT_EQ(chosen, rule) << byteRuleName(rule);
    }
    std::vector<uint8_t> truncated(4 * image.size());  // floor(c * 255): no candidate's rule
    const float* c = reinterpret_cast<const float*>(image.data());
    for (size_t k = 0; k < truncated.size(); k++) {
        truncated[k] = static_cast<uint8_t>(std::min(std::max(c[k], 0.0f), 1.0f) * 255.0f);
    }
    std::vector<uint8_t> oneOff = bytesOf(ByteRule::HalfEven, image);
    oneOff[4 * 700 + 1] ^= 1;
    std::vector<uint8_t> short_ = bytesOf(ByteRule::HalfEven, image);
    short_.resize(short_.size() - 4);
    for (const auto* shown : {&truncated, &oneOff, &short_}) {
        ByteRule chosen = ByteRule::Exact;
        EXPECT_FALSE(chooseByteRule(image, *shown, &chosen));
        EXPECT_EQ(chosen, ByteRule::Exact);
    }
}

}  // namespace
