// julia-fractals-bench: times the CPU loop, the SIMD renderer and the GPU renderer on the viewer's
// frame, compares their images bit for bit, and writes the frame as raw floats or as a PNG. No
// window is involved.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "compare.h"
#include "cpu_renderer.h"
#include "geometry.h"
#include "gpu_renderer.h"
#include "image_io.h"
#include "iterations.h"
#include "options.h"
#include "progress.h"
#include "report.h"
#include "simd_renderer.h"
#include "timing.h"

namespace {

constexpr int EXIT_DIFFERENT = 1;
constexpr int EXIT_BAD_INPUT = 2;  // also: no usable GPU where one is required

int refuse(const std::string& message) {
    std::fprintf(stderr, "julia-fractals-bench: %s\n", message.c_str());
    return EXIT_BAD_INPUT;
}

// The destination files, opened (as temporaries) before any work so that a bad path is refused
// before anything is written.
struct Outputs {
    OutputFile raw, png;
    bool wantRaw = false, wantPng = false;

    bool open(const BenchOptions& o, std::string* error) {
        wantRaw = !o.rawPath.empty();
        wantPng = !o.pngPath.empty();
        return (!wantRaw || raw.open(o.rawPath, error)) && (!wantPng || png.open(o.pngPath, error));
    }
    bool toStdout() const { return (wantRaw && raw.toStdout()) || (wantPng && png.toStdout()); }

    // Both images are made in full before either is committed, and standard output comes last,
    // so a refusal never follows an image that went out there. A commit can still fail after
    // the other file is in place; the message then says which one was written.
    bool write(const float4* frame, std::string* error) {
        struct Item {
            bool wanted;
            OutputFile& file;
            bool (*write)(OutputFile&, const float4*, std::string*);
            const char* what;
        };
        Item items[] = {{wantRaw, raw, writeRaw, "the raw image"}, {wantPng, png, writePng, "the PNG"}};
        std::string written;
        for (bool stdoutPass : {false, true}) {
            for (Item& it : items) {
                if (!it.wanted || it.file.toStdout() != stdoutPass) continue;
                if (!it.write(it.file, frame, error)) return false;
            }
            for (Item& it : items) {
                if (!it.wanted || it.file.toStdout() != stdoutPass) continue;
                if (!it.file.commit(error)) {
                    if (!written.empty()) *error += "; " + written + " was written";
                    return false;
                }
                written = std::string(it.what) + " '" + it.file.target() + "'";
            }
        }
        return true;
    }
};

// Refuses with the progress line out of the way.
int refuse(Progress& progress, const std::string& message) {
    progress.clear();
    return refuse(message);
}

// The SIMD renderer's settings for this run, resolved.
struct SimdSetup {
    SimdTarget target;
    int threads;
};

// Prints one comparison with the cpu frame (a line of text or a JSON object); true when equal.
bool report(const BenchOptions& o, const char* renderer, const std::string& detail,
            const float4* cpu, const float4* other) {
    const FrameComparison cmp = compareFrames(cpu, other);
    if (o.json) {
        std::printf("{\"verify\":true,\"renderer\":\"%s\",%s\"seed\":[%s,%s],\"precision\":%d,"
                    "\"scale\":%s,\"pixels\":%d,\"differing\":%d,\"first\":[",
                    renderer, detail.c_str(), shortFloat(o.mx).c_str(), shortFloat(o.my).c_str(),
                    o.precision, shortFloat(VIEW_SCALE).c_str(), PIXEL_COUNT, cmp.differing);
        for (size_t k = 0; k < cmp.listed.size(); k++) {
            const PixelDifference& d = cmp.listed[k];
            std::printf("%s{\"row\":%d,\"column\":%d,\"cpu\":\"%s\",\"%s\":\"%s\"}", k ? "," : "",
                        d.row, d.column, pixelHex(d.first).c_str(), renderer,
                        pixelHex(d.second).c_str());
        }
        std::printf("]}\n");
    } else {
        std::printf("verify %s%s: seed (%s, %s), limit %d, scale %s: %d of %d pixels differ\n",
                    renderer, detail.c_str(), shortFloat(o.mx).c_str(), shortFloat(o.my).c_str(),
                    o.precision, shortFloat(VIEW_SCALE).c_str(), cmp.differing, PIXEL_COUNT);
        for (const PixelDifference& d : cmp.listed) {
            std::printf("  row %d, column %d: cpu %s, %s %s\n", d.row, d.column,
                        pixelHex(d.first).c_str(), renderer, pixelHex(d.second).c_str());
        }
    }
    std::fflush(stdout);
    return cmp.differing == 0;
}

// A renderer that was asked for but could not run: a line, or in JSON an object with the reason,
// so that a script can tell it from one that was not asked for.
void saySkipped(const BenchOptions& o, const char* renderer, const std::string& why) {
    if (o.json) std::printf("%s\n", jsonSkipped(renderer, why).c_str());
    else std::printf("%s: skipped: %s\n", renderer, why.c_str());
    std::fflush(stdout);
}

// Every renderer this machine runs against cpu; the GPU only when one is usable (`d_pixels`).
int verify(const BenchOptions& o, const FrameParams& p, const SimdSetup& simd, float4* d_pixels,
           const std::string& gpuSkipped, Outputs& out, Progress& progress) {
    std::vector<float4> cpu(PIXEL_COUNT), other(PIXEL_COUNT);
    std::atomic<int> rows{0};
    progress.phase("cpu: the frame to compare", &rows);
    renderJuliaCPU(cpu.data(), p, &rows);
    std::string error;
    if (out.wantRaw || out.wantPng) progress.phase("writing the image");
    if (!out.write(cpu.data(), &error)) return refuse(progress, error);

    progress.phase("simd: the frame to compare", &rows);
    renderJuliaSIMD(simd.target, other.data(), p, simd.threads, SimdMode::Auto, &rows);
    progress.clear();
    const std::string detail =
        o.json ? "\"target\":\"" + simd.target.name + "\",\"threads\":" +
                     std::to_string(simd.threads) + ","
               : " (" + simd.target.name + ", " + std::to_string(simd.threads) +
                     (simd.threads == 1 ? " thread)" : " threads)");
    bool equal = report(o, "simd", detail, cpu.data(), other.data());
    if (d_pixels) {
        progress.phase("gpu: the frame to compare");
        if (!renderJuliaGPU(other.data(), d_pixels, p, &error)) {
            return refuse(progress, "GPU frame failed: " + error);
        }
        progress.clear();
        equal = report(o, "gpu", "", cpu.data(), other.data()) && equal;
    } else {
        saySkipped(o, "gpu", gpuSkipped);
    }
    return equal ? 0 : EXIT_DIFFERENT;
}

void print(const RendererReport& r, const BenchOptions& o) {
    if (o.json) std::printf("%s\n", jsonLine(r, o).c_str());
    else std::printf("%s\n", tableRow(r).c_str());
    std::fflush(stdout);
}

std::string joined(const std::vector<std::string>& names) {
    std::string s;
    for (const std::string& n : names) s += (s.empty() ? "" : ", ") + n;
    return s;
}

int run(const BenchOptions& o) {
    const unsigned hardware = std::thread::hardware_concurrency();
    const std::vector<std::string> targets = simdTargets();
    SimdSetup simd{{}, o.threads > 0 ? o.threads : std::max(1, static_cast<int>(hardware))};
    if (!findSimdTarget(o.simdTarget, &simd.target)) {
        return refuse("option --simd-target: '" + o.simdTarget +
                      "' is not a target this program and CPU can run (usable: " +
                      joined(targets) + ")");
    }

    Outputs out;
    std::string error;
    if (!out.open(o, &error)) return refuse(error);
    Progress progress(::isatty(STDERR_FILENO));
    if (out.toStdout()) {
        // The image owns standard output (its stream holds a copy of the descriptor); the
        // results go to standard error instead.
        std::fflush(stdout);
        ::dup2(STDERR_FILENO, STDOUT_FILENO);
    }

    const FrameParams p{o.mx, o.my, o.precision, VIEW_SCALE};
    const bool wantCpu = !o.verify && (o.renderer == Renderer::Cpu || o.renderer == Renderer::All);
    const bool wantSimd =
        !o.verify && (o.renderer == Renderer::Simd || o.renderer == Renderer::All);
    const bool needGpu = !o.verify && o.renderer == Renderer::Gpu;
    bool useGpu = o.verify || o.renderer == Renderer::Gpu || o.renderer == Renderer::All;

    // Without a usable GPU, `all` and --verify go on without it; --renderer gpu is refused.
    std::string gpuSkipped;
    std::unique_ptr<float4, void (*)(float4*)> device(nullptr, freeDeviceImage);
    if (useGpu) progress.phase("gpu: starting CUDA");
    if (useGpu && gpuUsable(&gpuSkipped)) {
        device.reset(allocDeviceImage(&gpuSkipped));
        if (!device) gpuSkipped = "allocating the device image: " + gpuSkipped;
    }
    if (useGpu && !device) {
        if (needGpu) return refuse(progress, "no usable GPU: " + gpuSkipped);
        useGpu = false;
    }
    if (progress.enabled()) {
        // For the estimate of the time left: a frame at a huge limit shows at once that it
        // would take hours.
        progress.phase("estimating the work");
        progress.setWork(estimateWork(p.mx, p.my, p.precision, p.scale));
    }
    if (o.verify) {
        return verify(o, p, simd, useGpu ? device.get() : nullptr, gpuSkipped, out, progress);
    }

    // Before anything slow: the iteration count costs as much as a frame.
    progress.clear();
    if (!o.json) {
        std::printf("%s\n", runDescription(o).c_str());
        if (wantSimd) {
            std::printf("simd: Highway target %s (this CPU runs %s), %u hardware threads\n",
                        simd.target.name.c_str(), joined(targets).c_str(), hardware);
        }
        std::printf("%s\n", tableHeader().c_str());
    }
    std::fflush(stdout);

    // Counted once, apart from the timed frames: the same frame costs the same steps every time.
    std::atomic<int> rows{0};
    progress.phase("counting iterations", &rows);
    const int64_t iterations = frameIterations(p.mx, p.my, p.precision, p.scale, &rows);
    std::unique_ptr<float4[]> cpuFrame, simdFrame, gpuFrame;  // pageable, like the viewer's image
    std::vector<RendererReport> reports;
    auto add = [&](RendererReport r) {
        progress.clear();
        reports.push_back(std::move(r));
        setSpeedups(reports);
        print(reports.back(), o);
    };
    // The progress line's phase before each frame: "cpu: timed frame 3 of 50".
    auto showFrame = [&](const std::string& who) {
        return [&progress, &rows, who](bool timed, int k, int count) {
            progress.phase(who + ": " + (timed ? "timed" : "warm-up") + " frame " +
                               std::to_string(k) + " of " + std::to_string(count),
                           &rows);
        };
    };

    if (wantCpu) {
        cpuFrame.reset(new float4[PIXEL_COUNT]());  // touched now, not in a timed frame
        add({"cpu", o.frames,
             summarize(timeCpuFrames(cpuFrame.get(), p, o.warmup, o.frames, &rows,
                                     showFrame("cpu"))),
             iterations});
    }
    if (wantSimd) {
        simdFrame.reset(new float4[PIXEL_COUNT]());
        std::vector<int> counts{simd.threads};
        if (o.renderer == Renderer::All && simd.threads > 1) counts.insert(counts.begin(), 1);
        for (int threads : counts) {
            const std::string who = "simd on " + std::to_string(threads) +
                                    (threads == 1 ? " thread" : " threads");
            RendererReport r{"simd", o.frames,
                             summarize(timeSimdFrames(simdFrame.get(), p, simd.target, threads,
                                                      o.warmup, o.frames, &rows, showFrame(who))),
                             iterations};
            r.threads = threads;
            r.target = simd.target.name;
            add(r);
        }
    }
    if (useGpu) {
        gpuFrame.reset(new float4[PIXEL_COUNT]());
        GpuSamples s;
        progress.phase("gpu: " + std::to_string(o.warmup) + " warm-up and " +
                       std::to_string(o.frames) + " timed frames");
        if (timeGpuFrames(gpuFrame.get(), device.get(), p, o.warmup, o.frames, &s, &error)) {
            RendererReport r{"gpu", o.frames, summarize(s.frameMs), iterations, true};
            r.kernelMs = summarize(s.kernelMs).median;
            r.copyMs = summarize(s.copyMs).median;
            r.threads = 0;
            add(r);
        } else if (needGpu) {
            return refuse(progress, "GPU frame failed: " + error);
        } else {
            useGpu = false;
            gpuSkipped = error;
        }
    }
    progress.clear();
    if (!o.json) {
        for (const std::string& line : speedupLines(reports)) std::printf("%s\n", line.c_str());
    }
    if (!gpuSkipped.empty() && !useGpu) saySkipped(o, "gpu", gpuSkipped);
    std::fflush(stdout);
    if (out.wantRaw || out.wantPng) progress.phase("writing the image");
    const float4* written =
        cpuFrame ? cpuFrame.get() : simdFrame ? simdFrame.get() : gpuFrame.get();
    if (!out.write(written, &error)) return refuse(progress, error);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const ParseResult parsed = parseOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.ok()) return refuse(parsed.error + " (see --help)");
    if (parsed.options.help) {
        std::fputs(usageText().c_str(), stdout);
        return 0;
    }
    if (parsed.options.version) {
        std::printf("julia-fractals-bench %s\n", JULIA_VERSION);
        return 0;
    }
    return run(parsed.options);
}
