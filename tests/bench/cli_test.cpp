// The executable as scripts use it: exit statuses, what goes to which stream, and that a refused
// run writes nothing. The GPU cases expect what this machine allows: a usable GPU or none.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <thread>

#include <cctype>
#include <utility>

#include <gtest/gtest.h>

#include "bench_test_util.h"
#include "gpu_renderer.h"
#include "simd_renderer.h"

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

bool isPng(const std::string& bytes) { return bytes.rfind("\x89PNG\r\n", 0) == 0; }

mode_t typeOf(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 ? (st.st_mode & S_IFMT) : 0;
}

TEST(Cli, EachKindOfPathIsWrittenSafelyOrRefusedUntouched) {
    struct Case {
        const char* kind;
        std::function<void(const ScratchDir&)> make;  // what the folder holds before the run
        std::string png;                              // relative to the folder, or "-"
        int status;
        std::function<void(const ScratchDir&, const Result&)> check;
    };
    auto writes = [](const char* name) {
        return [name](const ScratchDir& d, const Result&) {
            EXPECT_EQ(typeOf(d / name), S_IFREG);
            EXPECT_TRUE(isPng(readFile(d / name))) << name;
        };
    };
    auto stays = [](const char* name, mode_t type) {
        return [name, type](const ScratchDir& d, const Result&) { EXPECT_EQ(typeOf(d / name), type); };
    };
    const Case cases[] = {
        {"regular file", [](const ScratchDir& d) { std::ofstream(d / "f.png") << "old"; }, "f.png", 0,
         writes("f.png")},
        {"new file", [](const ScratchDir&) {}, "f.png", 0, writes("f.png")},
        {"link to a link to a file",
         [](const ScratchDir& d) {
             std::ofstream(d / "f.png") << "old";
             std::filesystem::create_symlink("f.png", d / "l1");
             std::filesystem::create_symlink(d / "l1", d / "l2");
         },
         "l2", 0,
         [&](const ScratchDir& d, const Result& r) {
             writes("f.png")(d, r);
             EXPECT_EQ(typeOf(d / "l1"), S_IFLNK);
             EXPECT_EQ(typeOf(d / "l2"), S_IFLNK);
         }},
        {"dangling link",
         [](const ScratchDir& d) {
             std::filesystem::create_directory(d / "sub");
             std::filesystem::create_symlink("sub/new.png", d / "l");
         },
         "l", 0,
         [&](const ScratchDir& d, const Result& r) {
             writes("sub/new.png")(d, r);
             EXPECT_EQ(typeOf(d / "l"), S_IFLNK);
         }},
        {"folder", [](const ScratchDir& d) { std::filesystem::create_directory(d / "f"); }, "f", 2,
         stays("f", S_IFDIR)},
        {"FIFO", [](const ScratchDir& d) { ::mkfifo((d / "f").c_str(), 0600); }, "f", 2,
         stays("f", S_IFIFO)},
        {"link to a FIFO",
         [](const ScratchDir& d) {
             ::mkfifo((d / "f").c_str(), 0600);
             std::filesystem::create_symlink("f", d / "l");
         },
         "l", 2, stays("f", S_IFIFO)},
        {"device", [](const ScratchDir& d) { ::mknod((d / "f").c_str(), S_IFCHR | 0600, makedev(1, 7)); },
         "f", 2, stays("f", S_IFCHR)},
        {"standard output", [](const ScratchDir&) {}, "-", 0,
         [](const ScratchDir&, const Result& r) {
             EXPECT_TRUE(isPng(r.out)) << "the image alone on standard output";
             EXPECT_NE(r.err.find("\ncpu "), std::string::npos) << "the results on standard error";
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.kind);
        ScratchDir dir;
        c.make(dir);
        if (std::string(c.kind) == "device" && typeOf(dir / "f") != S_IFCHR) {
            continue;  // mknod needs root
        }
        const std::vector<std::string> before = dir.entries();
        const Result r = bench("--renderer cpu --frames 1 --warmup 0 --precision 5 --png " +
                               (c.png == "-" ? c.png : dir / c.png));
        EXPECT_EQ(r.status, c.status) << r.err;
        if (c.status == 2) {
            EXPECT_EQ(lines(r.err), 1) << r.err;
        }
        c.check(dir, r);
        std::vector<std::string> after = dir.entries(), want = before;
        if (c.status == 0 && c.png != "-" &&
            std::find(before.begin(), before.end(), c.png) == before.end()) {
            want.push_back(c.png);
        }
        std::sort(after.begin(), after.end());
        std::sort(want.begin(), want.end());
        EXPECT_EQ(after, want) << "no temporary left, nothing else touched";
    }
}

TEST(Cli, InterruptedRunLeavesNoTemporary) {
    for (int sig : {SIGINT, SIGTERM}) {
        ScratchDir dir;
        const std::string raw = dir / "f.raw", png = dir / "f.png";
        // Seed 0 at a huge limit: the points inside the unit circle never escape, so the frame
        // runs for hours; the files are open from the start.
        const char* argv[] = {BENCH_EXE, "--renderer", "cpu", "--precision", "2000000000",
                              "--raw", raw.c_str(), "--png", png.c_str(), nullptr};
        pid_t pid;
        ASSERT_EQ(::posix_spawn(&pid, BENCH_EXE, nullptr, nullptr, const_cast<char**>(argv),
                                environ), 0);
        // Signalled once both temporaries are open, however slowly a loaded machine starts it.
        int open = 0;
        for (int tries = 0; tries < 500 && open < 2; tries++) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            open = 0;
            const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
            std::error_code ec;
            for (const auto& fd : std::filesystem::directory_iterator(fds, ec)) {
                const std::string to = std::filesystem::read_symlink(fd.path(), ec).string();
                open += to.rfind(dir.path.string(), 0) == 0;
            }
        }
        EXPECT_EQ(open, 2) << "the run never opened its two outputs";
        ::kill(pid, sig);
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << "status " << status;
        EXPECT_TRUE(dir.entries().empty()) << dir.entries()[0];
    }
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
        EXPECT_TRUE(r.err.empty()) << "no progress where standard error is no terminal: " << r.err;
        EXPECT_EQ(lines(r.out), 1) << r.out;
        EXPECT_EQ(r.out.rfind(run.second, 0), 0u) << r.out;
        const std::string iterations =
            "\"iterations\":" + std::to_string(frameIterations(-0.8f, 0.156f, 20, VIEW_SCALE)) + ",";
        EXPECT_NE(r.out.find(iterations), std::string::npos) << r.out;
        EXPECT_EQ(r.out.find("steps"), std::string::npos) << "only with --periodicity";
        EXPECT_EQ(r.out.find("periodicity"), std::string::npos) << r.out;
        const std::vector<float4> frame = cpuFrame(-0.8f, 0.156f, 20);
        EXPECT_EQ(readFile(dir / "f.raw"), std::string((const char*)frame.data(), BUFFER_SIZE));
        EXPECT_EQ(readFile(dir / "f.png").substr(1, 3), "PNG");
    }
}

// Seed 0, where interior orbits soon repeat: the rule's frame and iterations, and the steps the
// check took (the table's layout is report_test's).
TEST(Cli, PeriodicityRunsReportTheStepsTaken) {
    const FrameParams p{0, 0, 30, VIEW_SCALE, true};
    const int64_t iterations = frameIterations(p.mx, p.my, p.precision, p.scale);
    const int64_t steps = frameWork(p).steps;
    ASSERT_LT(steps, iterations) << "a frame where the check saves steps";
    const std::vector<float4> frame = cpuFrame(0, 0, 30);
    const std::string quick = " --periodicity --precision 30 --frames 1 --warmup 0";
    for (const char* renderer : {"cpu", "simd --threads 2"}) {
        ScratchDir dir;
        const Result r = bench(std::string("--json --renderer ") + renderer + quick + " --raw " +
                               (dir / "f.raw"));
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(lines(r.out), 1) << r.out;
        EXPECT_NE(r.out.find("\"precision\":30,\"scale\":0.003,\"periodicity\":true,"),
                  std::string::npos) << r.out;
        EXPECT_NE(r.out.find(",\"iterations\":" + std::to_string(iterations) +
                             ",\"steps\":" + std::to_string(steps) + ","),
                  std::string::npos) << r.out;
        EXPECT_EQ(readFile(dir / "f.raw"), std::string((const char*)frame.data(), BUFFER_SIZE));
    }
    const Result table = bench("--renderer cpu" + quick);
    ASSERT_EQ(table.status, 0) << table.err;
    EXPECT_NE(table.out.find("limit 30, scale 0.003, with the periodicity check, 1024x768"),
              std::string::npos) << table.out;
    EXPECT_NE(table.out.find("\nsteps/frame: "), std::string::npos) << table.out;
    EXPECT_NE(table.out.find(" iter/frame   steps/frame  ns/step "), std::string::npos)
        << table.out;
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
    // With the check, every renderer, cpu too, against the loop without it.
    const Result checked = bench("--verify --periodicity --precision 100 --threads 2");
    EXPECT_EQ(checked.status, 0) << checked.out << checked.err;
    const std::string state = "seed (0, 0), limit 100, scale 0.003, with the periodicity check: "
                              "0 of 786432 pixels differ";
    for (const std::string& who :
         {std::string("cpu"), "simd (" + simdTargets().front() + ", 2 threads)"}) {
        EXPECT_NE(checked.out.find("verify " + who + ": " + state), std::string::npos)
            << checked.out;
    }
    EXPECT_EQ(checked.out.find("verify gpu: " + state) != std::string::npos, gpu)
        << checked.out;
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
    // What scripts/test reads: the status, and the reason on the last line.
    const Result info = bench("gpu-info");
    EXPECT_EQ(info.status, gpu ? 0 : 1) << info.out << info.err;
    const std::string last = info.out.substr(info.out.rfind('\n', info.out.size() - 2) + 1);
    EXPECT_EQ(last.rfind(gpu ? "kernel juliaColorGPU: sm_" : "no usable GPU: " + why, 0), 0u)
        << info.out;
    // In JSON every renderer asked for has its line: timed, or skipped with the reason.
    const Result json = bench("--json --renderer all --threads 1" + quick);
    EXPECT_EQ(json.status, 0) << json.err;
    EXPECT_EQ(lines(json.out), 3) << json.out;
    EXPECT_EQ(json.out.find("{\"renderer\":\"gpu\",\"skipped\":true,\"reason\":\"") !=
                  std::string::npos,
              !gpu)
        << json.out;
}

// The viewer answers --help and --version without a display; every other argument goes to GLUT,
// which then fails to open one.
TEST(Cli, HelpAndVersionGoToStandardOutput) {
    struct Tool {
        std::string exe, name;
        std::vector<std::string> helps;
        int refused;  // the status for an argument the tool does not know
    };
    const Tool tools[] = {
        {BENCH_EXE, "julia-fractals-bench", {"--help", "-h", "floors -h", "refill --help"}, 2},
        {"env -u DISPLAY " VIEWER_EXE, "julia-fractals", {"--help", "-iconic --help"}, 1}};
    for (const Tool& t : tools) {
        for (const std::string& help : t.helps) {
            const Result r = runTool(t.exe, help);
            EXPECT_EQ(r.status, 0) << t.name << " " << help << ": " << r.err;
            EXPECT_EQ(r.out.rfind("usage: " + t.name, 0), 0u) << r.out;
            EXPECT_TRUE(r.err.empty()) << r.err;
        }
        const Result v = runTool(t.exe, "--version");
        EXPECT_EQ(v.status, 0) << t.name;
        EXPECT_EQ(v.out, t.name + " " + JULIA_VERSION + "\n");
        const Result bad = runTool(t.exe, "--verbose");
        EXPECT_EQ(bad.status, t.refused) << t.name;
        EXPECT_EQ(lines(bad.err), 1) << bad.err;
        EXPECT_TRUE(bad.out.empty()) << bad.out;
        // A flag takes no value: the tool itself refuses these (the viewer would otherwise go on
        // to GLUT, which fails here without a display, with another message).
        for (const char* flagWithValue : {"--help=false", "--help=true", "--version=x"}) {
            const Result r = runTool(t.exe, flagWithValue);
            EXPECT_EQ(r.status, t.refused) << t.name << " " << flagWithValue;
            EXPECT_EQ(r.err.rfind(t.name + ": ", 0), 0u) << r.err;
            EXPECT_EQ(lines(r.err), 1) << r.err;
            EXPECT_TRUE(r.out.empty()) << r.out;
        }
    }
}

}  // namespace
