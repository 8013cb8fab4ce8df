// julia-fractals-bench: times the CPU loop, the SIMD renderer and the GPU renderer on the viewer's
// frame, compares their images bit for bit, and writes the frame as raw floats or as a PNG. No
// window is involved. Its subcommands measure the machine (floors, refill) and say what a GPU run
// depends on (gpu-info).
#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <fmt/format.h>
#include <unistd.h>

#include "compare.h"
#include "cpu_renderer.h"
#include "geometry.h"
#include "gpu_renderer.h"
#include "image_io.h"
#include "machine.h"
#include "options.h"
#include "progress.h"
#include "report.h"
#include "simd_renderer.h"
#include "timing.h"

namespace {

constexpr int EXIT_DIFFERENT = 1;
constexpr int EXIT_BAD_INPUT = 2;  // also: no usable GPU where one is required

// A run once it is set up: the frame, the resolved SIMD renderer, the open outputs, and the device
// image where a GPU is asked for and usable.
struct Run {
    explicit Run(const BenchOptions& options)
        : o(options),
          info{{o.mx, o.my, o.precision, VIEW_SCALE, o.periodicity}, o.frames, o.warmup} {}

    const BenchOptions& o;
    const RunInfo info;
    SimdTarget simd;
    int threads = 0;
    FrameOutputs out;
    Progress progress{::isatty(STDERR_FILENO) != 0};
    std::unique_ptr<float4, void (*)(float4*)> device{nullptr, freeDeviceImage};
    std::string gpuSkipped;   // why the GPU takes no part, where it was asked for
    std::atomic<int> rows{0};  // of the frame in progress, for the progress line
    int64_t iterations = 0;    // per frame, counted once
    int64_t steps = 0;         // per frame with the periodicity check, counted once where asked
    std::vector<RendererReport> reports;  // the table's rows so far

    // Refuses with the progress line out of the way.
    int refuse(const std::string& message) {
        progress.clear();
        sayError(message);
        return EXIT_BAD_INPUT;
    }
    int writeImage(const float4* frame) {
        if (out.any()) progress.phase("writing the image");
        std::string error;
        return out.write(frame, &error) ? 0 : refuse(error);
    }
};

// Everything that can refuse the run before any frame: the SIMD target, the files, the GPU.
int setUp(Run& run) {
    const BenchOptions& o = run.o;
    if (!findSimdTarget(o.simdTarget, &run.simd)) {
        return run.refuse(fmt::format("option --simd-target: '{}' is not a target this program and "
                                      "CPU can run (usable: {})",
                                      o.simdTarget, fmt::join(simdTargets(), ", ")));
    }
    run.threads = simdThreads(o.threads);
    std::string error;
    if (!run.out.open(o.rawPath, o.pngPath, &error)) return run.refuse(error);
    if (run.out.toStdout()) {
        // The image owns standard output (its stream holds a copy of the descriptor); the
        // results go to standard error instead.
        std::fflush(stdout);
        ::dup2(STDERR_FILENO, STDOUT_FILENO);
    }
    // Without a usable GPU, `all` and --verify go on without it; --renderer gpu is refused.
    if (o.verify || o.renderer == Renderer::Gpu || o.renderer == Renderer::All) {
        run.progress.phase("gpu: starting CUDA");
        if (gpuUsable(&run.gpuSkipped)) {
            run.device.reset(allocDeviceImage(&run.gpuSkipped));
            if (!run.device) run.gpuSkipped = "allocating the device image: " + run.gpuSkipped;
        }
        if (!run.device && !o.verify && o.renderer == Renderer::Gpu) {
            return run.refuse("no usable GPU: " + run.gpuSkipped);
        }
    }
    return 0;
}

// Every renderer this machine runs against cpu; the GPU only where one is usable. With the
// periodicity check, every renderer with it, cpu included, against cpu without it: the rule's own
// image.
int verify(Run& run) {
    const FrameParams& p = run.info.frame;
    FrameParams plain = p;
    plain.periodicity = false;
    std::vector<float4> cpu(PIXEL_COUNT), other(PIXEL_COUNT);
    run.progress.phase(p.periodicity ? "cpu without the check: the frame to compare"
                                     : "cpu: the frame to compare",
                       &run.rows);
    renderJuliaCPU(cpu.data(), plain, &run.rows);
    if (const int status = run.writeImage(cpu.data())) return status;

    // `other` against the cpu frame, reported; true when they are equal.
    auto check = [&](Renderer renderer, const std::string& target, int threads) {
        run.progress.clear();
        const FrameComparison cmp = compareFrames(cpu.data(), other.data());
        say(verifyReport(p, renderer, target, threads, cmp, run.o.json));
        return cmp.differing == 0;
    };
    bool equal = true;
    if (p.periodicity) {
        run.progress.phase("cpu: the frame to compare", &run.rows);
        renderJuliaCPU(other.data(), p, &run.rows);
        equal = check(Renderer::Cpu, "", 0);
    }
    run.progress.phase("simd: the frame to compare", &run.rows);
    renderJuliaSIMD(run.simd, other.data(), p, run.threads, SimdMode::Auto, &run.rows);
    equal = check(Renderer::Simd, run.simd.name, run.threads) && equal;
    if (!run.device) {
        say(skippedLine(Renderer::Gpu, run.gpuSkipped, run.o.json));
    } else {
        run.progress.phase("gpu: the frame to compare");
        std::string error;
        if (!renderJuliaGPU(other.data(), run.device.get(), p, &error)) {
            return run.refuse("GPU frame failed: " + error);
        }
        equal = check(Renderer::Gpu, "", 0) && equal;
    }
    return equal ? 0 : EXIT_DIFFERENT;
}

// The lines above the table, before anything slow: the iteration count costs as much as a frame,
// and so does the step count.
void sayTableHead(const Run& run) {
    if (run.o.json) return;
    say(runDescription(run.info));
    if (run.o.renderer == Renderer::All || run.o.renderer == Renderer::Simd) {
        say(fmt::format("simd: Highway target {} (this CPU runs {}), {} hardware threads",
                        run.simd.name, fmt::join(simdTargets(), ", "),
                        std::thread::hardware_concurrency()));
    }
    if (run.info.frame.periodicity) say(stepsLegend());
    say(tableHeader(run.info));
}

// Adds a row to the table, printed at once with the speedups so far.
void addRow(Run& run, RendererReport r) {
    run.progress.clear();
    run.reports.push_back(std::move(r));
    setSpeedups(run.reports);
    const RendererReport& row = run.reports.back();
    say(run.o.json ? jsonLine(row, run.info) : tableRow(row, run.info));
}

// Pageable, like the viewer's image, and touched now rather than in a timed frame.
std::unique_ptr<float4[]> image() { return std::unique_ptr<float4[]>(new float4[PIXEL_COUNT]()); }

// The frames of a CPU renderer on `threads` threads, then its row. The progress line's phase
// comes before each frame: "simd on 2 threads: timed frame 3 of 50".
void timeSeries(Run& run, Renderer renderer, int threads, const std::function<void()>& render) {
    const bool simd = renderer == Renderer::Simd;
    const std::string who = simd ? "simd on " + threadCount(threads) : rendererName(renderer);
    auto phase = [&](bool timed, int k, int count) {
        run.progress.phase(
            fmt::format("{}: {} frame {} of {}", who, timed ? "timed" : "warm-up", k, count),
            &run.rows);
    };
    RendererReport r{renderer, run.o.frames,
                     summarize(timeFrames(render, run.o.warmup, run.o.frames, phase)),
                     run.iterations};
    r.steps = run.steps;
    r.threads = threads;
    if (simd) r.target = run.simd.name;
    addRow(run, r);
}

// On every thread asked for, and with `all` first on one thread, for the threads' speedup.
void timeSimd(Run& run, float4* frame) {
    std::vector<int> counts{run.threads};
    if (run.o.renderer == Renderer::All && run.threads > 1) counts.insert(counts.begin(), 1);
    for (int threads : counts) {
        timeSeries(run, Renderer::Simd, threads, [&] {
            renderJuliaSIMD(run.simd, frame, run.info.frame, threads, SimdMode::Auto, &run.rows);
        });
    }
}

// A failed GPU frame refuses --renderer gpu; another run goes on without the GPU, saying why.
int timeGpu(Run& run, HostImage& gpuFrame) {
    const BenchOptions& o = run.o;
    const FrameParams& p = run.info.frame;
    // Where the viewer's GPU mode puts its frames: page-locked where the runtime can pin them, so
    // that `copy GB/s` reads the bus.
    gpuFrame = allocGpuHostImage();
    GpuSamples s;
    std::string error = "cannot allocate the host image";
    run.progress.phase(fmt::format("gpu: {} warm-up and {} timed frames", o.warmup, o.frames));
    if (gpuFrame.pixels != nullptr &&
        timeGpuFrames(gpuFrame.pixels, run.device.get(), p, o.warmup, o.frames, &s, &error)) {
        RendererReport r{Renderer::Gpu, o.frames, summarize(s.frameMs), run.iterations};
        r.steps = run.steps;
        r.kernelMs = summarize(s.kernelMs).median;
        r.copyMs = summarize(s.copyMs).median;
        r.threads = 0;
        addRow(run, r);
    } else if (o.renderer == Renderer::Gpu) {
        return run.refuse("GPU frame failed: " + error);
    } else {
        run.device.reset();
        run.gpuSkipped = error;
    }
    return 0;
}

// The timed frames of each renderer asked for, a line as each is done; then the image.
int timeRenderers(Run& run) {
    const BenchOptions& o = run.o;
    const FrameParams& p = run.info.frame;
    const bool all = o.renderer == Renderer::All;
    run.progress.clear();
    sayTableHead(run);
    // Counted once, apart from the timed frames: the same frame costs the same steps every time.
    run.progress.phase(p.periodicity ? "counting iterations and steps" : "counting iterations",
                       &run.rows);
    const FrameWork work = frameWork(p, &run.rows);
    run.iterations = work.iterations;
    if (p.periodicity) run.steps = work.steps;
    std::unique_ptr<float4[]> cpuFrame, simdFrame;
    HostImage gpuFrame;  // set by timeGpu, released with the run
    const std::unique_ptr<HostImage, void (*)(HostImage*)> gpuFrameOwner{
        &gpuFrame, [](HostImage* h) { freeGpuHostImage(*h); }};
    if (all || o.renderer == Renderer::Cpu) {
        cpuFrame = image();
        timeSeries(run, Renderer::Cpu, 1, [&] { renderJuliaCPU(cpuFrame.get(), p, &run.rows); });
    }
    if (all || o.renderer == Renderer::Simd) timeSimd(run, (simdFrame = image()).get());
    if (const int status = run.device ? timeGpu(run, gpuFrame) : 0) return status;
    run.progress.clear();
    if (!o.json) {
        for (const std::string& line : speedupLines(run.reports)) say(line);
    }
    if (!run.device && !run.gpuSkipped.empty()) {
        say(skippedLine(Renderer::Gpu, run.gpuSkipped, o.json));
    }
    return run.writeImage(cpuFrame    ? cpuFrame.get()
                          : simdFrame ? simdFrame.get()
                                      : gpuFrame.pixels);
}

std::string versionText(int v) { return fmt::format("{}.{}", v / 1000, v % 1000 / 10); }

// The device, its compute capability, the CUDA versions of the driver and of the runtime linked
// in, and which of the kernel's images the runtime picked. Exit 1, ending with the runtime's
// reason, where no GPU is usable or the kernel cannot run on it.
int printGpuInfo() {
    GpuInfo info;
    std::string why;
    const bool ok = gpuInfo(&info, &why);
    if (!gpuRendererBuilt()) {
        say("no usable GPU: " + why);
        return 1;
    }
    say(fmt::format("CUDA runtime {} (linked in), driver supports CUDA {}",
                    versionText(info.runtimeVersion),
                    info.driverVersion ? versionText(info.driverVersion) : "none"));
    if (info.device) {
        say(fmt::format("device: {}, compute capability {}.{}, {} multiprocessors, {} MiB",
                        info.name, info.major, info.minor, info.multiprocessors, info.memoryMiB));
    }
    if (!ok) {
        say((info.device ? "" : "no usable GPU: ") + why);
        return 1;
    }
    say(fmt::format("kernel juliaColorGPU: sm_{} machine code, built from compute_{}, {} registers "
                    "per thread",
                    info.binaryVersion, info.ptxVersion, info.registers));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const ParseResult parsed = parseOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.ok()) {
        sayError(parsed.error + " (see --help)");
        return EXIT_BAD_INPUT;
    }
    const BenchOptions& o = parsed.options;
    if (o.help) {
        std::fputs(usageText().c_str(), stdout);
        return 0;
    }
    if (o.version) {
        std::printf("julia-fractals-bench %s\n", JULIA_VERSION);
        return 0;
    }
    switch (o.command) {
    case Command::Floors: return printFloors();
    case Command::Refill: return printRefill(o.mx, o.my, o.frames);
    case Command::GpuInfo: return printGpuInfo();
    case Command::Run: break;
    }
    Run run(o);
    if (const int status = setUp(run)) return status;
    return o.verify ? verify(run) : timeRenderers(run);
}
