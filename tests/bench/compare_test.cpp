// The bit-for-bit comparison: it must catch the smallest possible difference and locate it.
#include <algorithm>
#include <cmath>

#include <gtest/gtest.h>

#include "bench_test_util.h"
#include "compare.h"
#include "report.h"

namespace {

TEST(Compare, CatchesAPlantedOneUlpDifference) {
    const std::vector<float4> a = cpuFrame(-0.8f, 0.156f, 100);
    std::vector<float4> b = a;
    EXPECT_EQ(compareFrames(a.data(), b.data()).differing, 0);

    float4& p = b[400 * WIDTH + 300];
    ASSERT_GT(p.y, 0.0f);
    const float before = p.y;
    p.y = std::nextafterf(p.y, 2.0f);
    const FrameComparison c = compareFrames(a.data(), b.data());
    EXPECT_EQ(c.differing, 1);
    ASSERT_EQ(c.listed.size(), 1u);
    EXPECT_EQ(c.listed[0].row, 400);
    EXPECT_EQ(c.listed[0].column, 300);
    EXPECT_EQ(c.listed[0].first.y, before);
    EXPECT_EQ(c.listed[0].second.y, p.y);
}

TEST(Compare, SignOfZeroCountsAndTheListIsCapped) {
    std::vector<float4> a(PIXEL_COUNT, float4{0, 0, 1, 1});
    std::vector<float4> b = a;
    for (int k : {5 * WIDTH + 7, 3, 100 * WIDTH, 700 * WIDTH + 1, 767 * WIDTH + 1023, 9, 11}) {
        b[k].x = -0.0f;  // equal as numbers, different as bits
    }
    const FrameComparison c = compareFrames(a.data(), b.data());
    EXPECT_EQ(c.differing, 7);
    ASSERT_EQ(c.listed.size(), 5u);
    // In memory order: (0, 3), (0, 9), (0, 11), (5, 7), (100, 0).
    EXPECT_EQ(c.listed[0].column, 3);
    EXPECT_EQ(c.listed[3].row, 5);
    EXPECT_EQ(c.listed[3].column, 7);
    EXPECT_EQ(c.listed[4].row, 100);
    EXPECT_EQ(pixelHex(c.listed[0].second), "(80000000 00000000 3f800000 3f800000)");

    // As --verify reports it, in text and in JSON.
    const FrameParams p{0, 0, 10, VIEW_SCALE};
    const std::string text = verifyReport(p, Renderer::Gpu, "", 0, c, false);
    EXPECT_EQ(text.substr(0, text.find('\n', text.find('\n') + 1)),
              "verify gpu: seed (0, 0), limit 10, scale 0.003: 7 of 786432 pixels differ\n"
              "  row 0, column 3: cpu (00000000 00000000 3f800000 3f800000), "
              "gpu (80000000 00000000 3f800000 3f800000)");
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 5) << text;
    const std::string json = verifyReport(p, Renderer::Simd, "avx2", 2, c, true);
    EXPECT_EQ(json.rfind("{\"verify\":true,\"renderer\":\"simd\",\"target\":\"avx2\",\"threads\":2,"
                         "\"seed\":[0,0],\"precision\":10,\"scale\":0.003,\"pixels\":786432,"
                         "\"differing\":7,\"first\":[{\"row\":0,\"column\":3,\"cpu\":\"(00000000 "
                         "00000000 3f800000 3f800000)\",\"simd\":\"(80000000 00000000 3f800000 "
                         "3f800000)\"},{",
                         0),
              0u)
        << json;
    EXPECT_EQ(json.substr(json.size() - 4), "\"}]}") << json;

    // With the check, the cpu renderer itself is compared, with the loop without it: named apart.
    const FrameParams checked{0, 0, 10, VIEW_SCALE, true};
    const std::string cpu = verifyReport(checked, Renderer::Cpu, "", 0, c, false);
    EXPECT_EQ(cpu.substr(0, cpu.find('\n', cpu.find('\n') + 1)),
              "verify cpu: seed (0, 0), limit 10, scale 0.003, with the periodicity check: 7 of "
              "786432 pixels differ\n"
              "  row 0, column 3: plain cpu (00000000 00000000 3f800000 3f800000), "
              "cpu (80000000 00000000 3f800000 3f800000)");
    const std::string cpuJson = verifyReport(checked, Renderer::Cpu, "", 0, c, true);
    EXPECT_EQ(cpuJson.rfind("{\"verify\":true,\"renderer\":\"cpu\",\"seed\":[0,0],\"precision\":10,"
                            "\"scale\":0.003,\"periodicity\":true,\"pixels\":786432,"
                            "\"differing\":7,\"first\":[{\"row\":0,\"column\":3,\"plain_cpu\":"
                            "\"(00000000 00000000 3f800000 3f800000)\",\"cpu\":\"(80000000 ",
                            0),
              0u)
        << cpuJson;
}

}  // namespace
