// What scripts read: JSON that parses (no nan or inf), the GPU's extra fields, exact seeds.
#include <cmath>
#include <cstdlib>

#include <gtest/gtest.h>

#include "report.h"

namespace {

TEST(Report, JsonHasNoWordsJsonLacks) {
    BenchOptions o;
    o.precision = 0;
    const RendererReport cpu{"cpu", 5, {1.0, 2.0, 3.0}, 0};
    const std::string line = jsonLine(cpu, o);
    EXPECT_NE(line.find("\"ns_per_iteration\":null"), std::string::npos) << line;
    EXPECT_EQ(line.find("nan"), std::string::npos) << line;
    EXPECT_EQ(line.find("inf"), std::string::npos) << line;
    EXPECT_EQ(line.find("kernel_ms"), std::string::npos) << line;

    const RendererReport gpu{"gpu", 5, {0.5, 0.5, 0.7}, 1000000, true, 0.25, 0.0};
    const std::string g = jsonLine(gpu, o);
    EXPECT_NE(g.find("\"ns_per_iteration\":0.5"), std::string::npos) << g;
    EXPECT_NE(g.find("\"kernel_ms\":0.25"), std::string::npos) << g;
    EXPECT_NE(g.find("\"copy_gb_per_s\":null"), std::string::npos) << g;
}

TEST(Report, SkippedRendererIsAnObjectWithItsReason) {
    EXPECT_EQ(jsonSkipped("gpu", "no \"CUDA\" device\\here\n"),
              "{\"renderer\":\"gpu\",\"skipped\":true,\"reason\":\"no \\\"CUDA\\\" device\\\\here\\u000a\"}");
}

TEST(Report, SeedsAreShortAndExact) {
    EXPECT_EQ(shortFloat(-0.8f), "-0.8");
    EXPECT_EQ(shortFloat(0.003f), "0.003");
    EXPECT_EQ(shortFloat(0.0f), "0");
    for (float v : {std::nextafterf(0.1f, 1.0f), 1e-45f, -3.4028235e38f}) {
        EXPECT_EQ(std::strtof(shortFloat(v).c_str(), nullptr), v) << shortFloat(v);
    }
}

TEST(Report, MedianOfEvenAndOddCounts) {
    EXPECT_EQ(summarize({3, 1, 2}).median, 2);
    const Summary s = summarize({4, 1, 3, 2});
    EXPECT_EQ(s.median, 2.5);
    EXPECT_EQ(s.min, 1);
    EXPECT_EQ(s.max, 4);
}

}  // namespace
