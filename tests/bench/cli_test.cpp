// The executable as scripts use it: exit statuses, what goes to which stream, and that a refused
// run writes nothing. The GPU cases expect what this machine allows: a usable GPU or none.
#include <sys/wait.h>

#include <gtest/gtest.h>

#include "bench_test_util.h"
#include "gpu_device.h"
#include "iterations.h"

namespace {

struct Result {
    int status;
    std::string out, err;
};

Result runTool(const std::string& exe, const std::string& args) {
    ScratchDir logs;
    const std::string cmd = exe + " " + args + " >" + (logs / "out") + " 2>" + (logs / "err");
    const int rc = std::system(cmd.c_str());
    return {WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, readFile(logs / "out"), readFile(logs / "err")};
}

Result bench(const std::string& args) { return runTool(BENCH_EXE, args); }

int lines(const std::string& s) { return (int)std::count(s.begin(), s.end(), '\n'); }

TEST(Cli, RefusedRunsSayWhyOnOneLineAndWriteNothing) {
    ScratchDir dir;
    const std::string files = " --raw " + (dir / "f.raw") + " --png " + (dir / "f.png");
    for (const std::string& args : {files + " --frames 0", files + " --seed 1:2",
                                   files + " --renderer", "--raw " + (dir / "f.raw") +
                                   " --png " + (dir / "no/such/folder.png")}) {
        const Result r = bench("--renderer cpu --frames 1 --warmup 0 " + args);
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_EQ(lines(r.err), 1) << args << ": " << r.err;
        EXPECT_EQ(r.err.rfind("julia-fractals-bench: ", 0), 0u) << r.err;
        EXPECT_TRUE(r.out.empty()) << r.out;
        EXPECT_TRUE(dir.entries().empty()) << args;
    }
}

TEST(Cli, CpuRunWritesItsFrameAndOneJsonLine) {
    ScratchDir dir;
    const Result r = bench("--renderer cpu --seed -0.8,0.156 --precision 20 --frames 2 --warmup 0 "
                           "--json --raw " + (dir / "f.raw") + " --png=" + (dir / "f.png"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(lines(r.out), 1) << r.out;
    EXPECT_EQ(r.out.rfind("{\"renderer\":\"cpu\",", 0), 0u) << r.out;
    const std::string iterations =
        "\"iterations\":" + std::to_string(frameIterations(-0.8f, 0.156f, 20, 0.003f)) + ",";
    EXPECT_NE(r.out.find(iterations), std::string::npos) << r.out;
    const std::vector<float4> frame = cpuFrame(-0.8f, 0.156f, 20);
    EXPECT_EQ(readFile(dir / "f.raw"), std::string((const char*)frame.data(), BUFFER_SIZE));
    EXPECT_EQ(readFile(dir / "f.png").substr(1, 3), "PNG");
}

TEST(Cli, GpuRunsDependOnAUsableGpu) {
    std::string why;
    const bool gpu = gpuUsable(&why);
    const std::string quick = " --frames 1 --warmup 0 --precision 5";

    const Result all = bench("--renderer all" + quick);
    EXPECT_EQ(all.status, 0) << all.err;
    EXPECT_NE(all.out.find("\ncpu "), std::string::npos) << all.out;
    if (gpu) {
        EXPECT_NE(all.out.find("\ngpu "), std::string::npos) << all.out;
        EXPECT_NE(all.out.find("speedup GPU/CPU"), std::string::npos) << all.out;
    } else {
        EXPECT_NE(all.out.find("gpu: skipped: " + why), std::string::npos) << all.out;
    }

    const Result only = bench("--renderer gpu" + quick);
    const Result verify = bench("--verify --precision 50");
    if (gpu) {
        EXPECT_EQ(only.status, 0) << only.err;
        EXPECT_EQ(verify.status, 0) << verify.out << verify.err;
        EXPECT_NE(verify.out.find(": 0 of 786432 pixels differ"), std::string::npos) << verify.out;
    } else {
        for (const Result* r : {&only, &verify}) {
            EXPECT_EQ(r->status, 2);
            EXPECT_NE(r->err.find("no usable GPU: " + why), std::string::npos) << r->err;
            EXPECT_TRUE(r->out.empty()) << r->out;
        }
    }
}

TEST(Cli, HelpAndVersionGoToStandardOutput) {
    std::vector<std::pair<std::string, std::string>> tools = {{BENCH_EXE, "julia-fractals-bench"}};
#ifdef PROBE_EXE
    tools.push_back({PROBE_EXE, "julia-loop-probe"});
#endif
    for (const auto& [exe, name] : tools) {
        for (const char* help : {"--help", "-h"}) {
            const Result r = runTool(exe, help);
            EXPECT_EQ(r.status, 0) << name << " " << help;
            EXPECT_EQ(r.out.rfind("usage: " + name, 0), 0u) << r.out;
            EXPECT_TRUE(r.err.empty()) << r.err;
        }
        const Result v = runTool(exe, "--version");
        EXPECT_EQ(v.status, 0);
        EXPECT_EQ(v.out, name + " " + JULIA_VERSION + "\n");
        const Result bad = runTool(exe, "--verbose");
        EXPECT_EQ(bad.status, 2) << name;
        EXPECT_EQ(lines(bad.err), 1) << bad.err;
        EXPECT_TRUE(bad.out.empty()) << bad.out;
    }
}

}  // namespace
