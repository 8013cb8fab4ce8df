// What scripts read: JSON that parses (no nan or inf), the GPU's extra fields, exact seeds.
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "geometry.h"
#include "report.h"

namespace {

const RunInfo RUN{{0.0f, 0.0f, 0, VIEW_SCALE}, 5, 3};

TEST(Report, JsonHasNoWordsJsonLacks) {
    const RendererReport cpu{Renderer::Cpu, 5, {1.0, 2.0, 3.0}, 0};
    const std::string line = jsonLine(cpu, RUN);
    EXPECT_NE(line.find("\"ns_per_iteration\":null"), std::string::npos) << line;
    EXPECT_EQ(line.find("nan"), std::string::npos) << line;
    EXPECT_EQ(line.find("inf"), std::string::npos) << line;
    EXPECT_EQ(line.find("kernel_ms"), std::string::npos) << line;

    const RendererReport gpu{Renderer::Gpu, 5, {0.5, 0.5, 0.7}, 1000000, 0.25, 0.0};
    const std::string g = jsonLine(gpu, RUN);
    EXPECT_NE(g.find("\"ns_per_iteration\":0.5"), std::string::npos) << g;
    EXPECT_NE(g.find("\"kernel_ms\":0.25"), std::string::npos) << g;
    EXPECT_NE(g.find("\"copy_gb_per_s\":null"), std::string::npos) << g;
}

// With the check, the steps taken beside the rule's iterations and the time per step, in line with
// the header; without it, not a word of them.
TEST(Report, StepsOnlyWithThePeriodicityCheck) {
    const RunInfo checked{{0.0f, 0.0f, 1000, VIEW_SCALE, true}, 5, 3};
    RendererReport cpu{Renderer::Cpu, 5, {1.0, 2.0, 3.0}, 4000000};
    cpu.steps = 500000;
    const std::string line = jsonLine(cpu, checked);
    EXPECT_NE(line.find("\"scale\":0.003,\"periodicity\":true,"), std::string::npos) << line;
    EXPECT_NE(line.find("\"iterations\":4000000,\"steps\":500000,\"ns_per_iteration\":0.5,"
                        "\"ns_per_step\":4}"),
              std::string::npos)
        << line;
    const std::string plain = jsonLine(cpu, RUN);
    EXPECT_EQ(plain.find("steps"), std::string::npos) << plain;
    EXPECT_EQ(plain.find("periodicity"), std::string::npos) << plain;
    const RendererReport none{Renderer::Cpu, 5, {1.0, 2.0, 3.0}, 0};  // limit 0
    const std::string empty = jsonLine(none, checked);
    EXPECT_NE(empty.find("\"steps\":0,\"ns_per_iteration\":null,\"ns_per_step\":null"),
              std::string::npos)
        << empty;

    const std::string header = tableHeader(checked), row = tableRow(cpu, checked);
    auto end = [](const std::string& s, const std::string& w) { return s.find(w) + w.size(); };
    EXPECT_EQ(end(header, "steps/frame"), end(row, " 500000")) << header << "\n" << row;
    EXPECT_EQ(end(header, "ns/step"), end(row, " 4.000")) << header << "\n" << row;
    EXPECT_EQ(header.size(), row.size());
    EXPECT_EQ(tableHeader(RUN).find("steps"), std::string::npos);
    const std::string plainRow = tableRow(cpu, RUN);
    EXPECT_NE(plainRow.find(" 4000000    0.500 "), std::string::npos) << plainRow;
    EXPECT_EQ(plainRow.size() + 14, row.size()) << "one column more";
}

TEST(Report, SkippedRendererIsAnObjectWithItsReason) {
    EXPECT_EQ(skippedLine(Renderer::Gpu, "no \"CUDA\" device\\here\n", true),
              "{\"renderer\":\"gpu\",\"skipped\":true,\"reason\":\"no \\\"CUDA\\\" device\\\\here\\u000a\"}");
}

TEST(Report, SpeedupsAgainstCpuAndGpuAgainstSimdOnAllItsThreads) {
    std::vector<RendererReport> rows{{Renderer::Cpu, 5, {2, 2, 2}, 100},
                                     {Renderer::Simd, 5, {1, 1, 1}, 100},
                                     {Renderer::Simd, 5, {0.25, 0.25, 0.25}, 100},
                                     {Renderer::Gpu, 5, {0.1, 0.1, 0.1}, 100}};
    rows[2].threads = 2;
    rows[2].target = "avx2";
    rows[3].threads = 0;
    setSpeedups(rows);
    EXPECT_EQ(rows[0].vsCpu, 0);
    EXPECT_EQ(rows[2].vsCpu, 8);
    EXPECT_EQ(rows[3].vsSimd, 2.5);
    const std::vector<std::string> lines = speedupLines(rows);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "speedup over cpu of the median frame: simd 1 thread 2.0x, "
                        "simd 2 threads 8.0x, gpu 20.0x");
    EXPECT_EQ(lines[1], "speedup gpu/simd on 2 threads: 2.5x");
    const std::string simd = jsonLine(rows[2], RUN);
    EXPECT_NE(simd.find("\"threads\":2,\"target\":\"avx2\""), std::string::npos) << simd;
    EXPECT_NE(simd.find("\"speedup_vs_cpu\":8}"), std::string::npos) << simd;
    EXPECT_NE(tableRow(rows[3], RUN).find("gpu            - "), std::string::npos)
        << tableRow(rows[3], RUN);
    std::vector<RendererReport> noCpu{{Renderer::Simd, 5, {1, 1, 1}, 100},
                                      {Renderer::Gpu, 5, {0.5, 0.5, 0.5}, 100}};
    setSpeedups(noCpu);
    EXPECT_EQ(speedupLines(noCpu), std::vector<std::string>{"speedup gpu/simd on 1 thread: 2.0x"});
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
