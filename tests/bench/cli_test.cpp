// The executable as scripts use it: exit statuses, what goes to which stream, and that a refused
// run writes nothing. The GPU cases expect what this machine allows: a usable GPU or none.
#include <sys/wait.h>

#include <cctype>
#include <utility>

#include <gtest/gtest.h>

#include "bench_test_util.h"
#include "gpu_device.h"
#include "iterations.h"
#include "simd_renderer.h"

namespace {

struct Result {
    int status;
    std::string out, err;
};

Result bench(const std::string& args) {
    ScratchDir logs;
    const std::string cmd = std::string(BENCH_EXE) + " " + args + " >" + (logs / "out") + " 2>" +
                            (logs / "err");
    const int rc = std::system(cmd.c_str());
    return {WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, readFile(logs / "out"), readFile(logs / "err")};
}

int lines(const std::string& s) { return (int)std::count(s.begin(), s.end(), '\n'); }

TEST(Cli, RefusedRunsSayWhyOnOneLineAndWriteNothing) {
    ScratchDir dir;
    const std::string files = " --raw " + (dir / "f.raw") + " --png " + (dir / "f.png");
    for (const std::string& args : {files + " --frames 0", files + " --seed 1:2",
                                   files + " --renderer", files + " --simd-target avx9",
                                   "--raw " + (dir / "f.raw") +
                                   " --png " + (dir / "no/such/folder.png")}) {
        const Result r = bench("--renderer cpu --frames 1 --warmup 0 " + args);
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_EQ(lines(r.err), 1) << args << ": " << r.err;
        EXPECT_EQ(r.err.rfind("julia-fractals-bench: ", 0), 0u) << r.err;
        EXPECT_TRUE(r.out.empty()) << r.out;
        EXPECT_TRUE(dir.entries().empty()) << args;
    }
    // A refused target names the usable ones.
    EXPECT_NE(bench("--simd-target avx9").err.find("(usable: " + simdTargets().front()),
              std::string::npos);
}

TEST(Cli, CpuAndSimdRunsWriteTheirFrameAndOneJsonLine) {
    const std::string last = simdTargets().back();  // the plainest target, named in capitals
    std::string upper = last;
    for (char& ch : upper) ch = (char)std::toupper((unsigned char)ch);
    const std::pair<std::string, std::string> runs[] = {
        {"--renderer cpu", "{\"renderer\":\"cpu\",\"seed\":[-0.8,0.156],\"precision\":20,\"scale\":"
                           "0.003,\"threads\":1,"},
        {"--renderer simd --threads 2 --simd-target " + upper,
         "{\"renderer\":\"simd\",\"seed\":[-0.8,0.156],\"precision\":20,\"scale\":0.003,"
         "\"threads\":2,\"target\":\"" + last + "\","},
    };
    for (const auto& run : runs) {
        ScratchDir dir;
        const Result r = bench(run.first + " --seed -0.8,0.156 --precision 20 --frames 2 " +
                               "--warmup 0 --json --raw " + (dir / "f.raw") + " --png=" +
                               (dir / "f.png"));
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(lines(r.out), 1) << r.out;
        EXPECT_EQ(r.out.rfind(run.second, 0), 0u) << r.out;
        const std::string iterations =
            "\"iterations\":" + std::to_string(frameIterations(-0.8f, 0.156f, 20, 0.003f)) + ",";
        EXPECT_NE(r.out.find(iterations), std::string::npos) << r.out;
        const std::vector<float4> frame = cpuFrame(-0.8f, 0.156f, 20);
        EXPECT_EQ(readFile(dir / "f.raw"), std::string((const char*)frame.data(), BUFFER_SIZE));
        EXPECT_EQ(readFile(dir / "f.png").substr(1, 3), "PNG");
    }
}

TEST(Cli, GpuRunsDependOnAUsableGpu) {
    std::string why;
    const bool gpu = gpuUsable(&why);
    const std::string quick = " --frames 1 --warmup 0 --precision 5";

    const Result all = bench("--renderer all --threads 2" + quick);
    EXPECT_EQ(all.status, 0) << all.err;
    for (const char* row : {"\ncpu            1 ", "\nsimd           1 ", "\nsimd           2 "}) {
        EXPECT_NE(all.out.find(row), std::string::npos) << row << all.out;
    }
    EXPECT_NE(all.out.find("simd: Highway target " + simdTargets().front()), std::string::npos);
    EXPECT_NE(all.out.find("speedup over cpu of the median frame: simd 1 thread "),
              std::string::npos) << all.out;
    // Every renderer this machine runs, against cpu; the GPU only where there is one.
    const Result verify = bench("--verify --precision 50 --threads 2");
    EXPECT_EQ(verify.status, 0) << verify.out << verify.err;
    EXPECT_NE(verify.out.find("verify simd (" + simdTargets().front() +
                              ", 2 threads): seed (0, 0), limit 50, scale 0.003: 0 of 786432 "
                              "pixels differ"),
              std::string::npos) << verify.out;
    const Result only = bench("--renderer gpu" + quick);
    if (gpu) {
        EXPECT_NE(all.out.find("\ngpu "), std::string::npos) << all.out;
        EXPECT_NE(all.out.find("speedup gpu/simd on 2 threads: "), std::string::npos) << all.out;
        EXPECT_EQ(only.status, 0) << only.err;
        EXPECT_NE(verify.out.find("verify gpu: seed (0, 0), limit 50, scale 0.003: 0 of 786432"),
                  std::string::npos) << verify.out;
    } else {
        EXPECT_NE(all.out.find("gpu: skipped: " + why), std::string::npos) << all.out;
        EXPECT_NE(verify.out.find("gpu: skipped: " + why), std::string::npos) << verify.out;
        EXPECT_EQ(only.status, 2);
        EXPECT_NE(only.err.find("no usable GPU: " + why), std::string::npos) << only.err;
        EXPECT_TRUE(only.out.empty()) << only.out;
    }
}

TEST(Cli, HelpGoesToStandardOutput) {
    const Result r = bench("--help");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("usage: julia-fractals-bench", 0), 0u);
    EXPECT_TRUE(r.err.empty());
}

}  // namespace
