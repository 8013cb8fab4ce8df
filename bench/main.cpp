// julia-fractals-bench: times the CPU loop, the SIMD renderer and the GPU renderer on the viewer's
// frame, compares their images bit for bit, and writes the frame as raw floats or as a PNG. No
// window is involved.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "compare.h"
#include "cpu_renderer.h"
#include "geometry.h"
#include "gpu_device.h"
#include "image_io.h"
#include "iterations.h"
#include "options.h"
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
// before anything is written, and committed together at the end.
struct Outputs {
    OutputFile raw, png;
    bool wantRaw = false, wantPng = false;

    bool open(const BenchOptions& o, std::string* error) {
        wantRaw = !o.rawPath.empty();
        wantPng = !o.pngPath.empty();
        return (!wantRaw || raw.open(o.rawPath, error)) && (!wantPng || png.open(o.pngPath, error));
    }
    // Both files are written in full before either is renamed into place.
    bool write(const float4* frame, std::string* error) {
        return (!wantRaw || writeRaw(raw, frame, error)) &&
               (!wantPng || writePng(png, frame, error)) && (!wantRaw || raw.commit(error)) &&
               (!wantPng || png.commit(error));
    }
};

// The SIMD renderer's settings for this run, resolved.
struct SimdSetup {
    std::string target;
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
    return cmp.differing == 0;
}

// Every renderer this machine runs against cpu; the GPU only when one is usable (`d_pixels`).
int verify(const BenchOptions& o, const FrameParams& p, const SimdSetup& simd, float4* d_pixels,
           Outputs& out) {
    std::vector<float4> cpu(PIXEL_COUNT), other(PIXEL_COUNT);
    renderJuliaCPU(cpu.data(), p.mx, p.my, p.precision, p.scale);
    std::string error;
    if (!out.write(cpu.data(), &error)) return refuse(error);

    renderJuliaSIMDOn(simd.target, other.data(), p.mx, p.my, p.precision, p.scale, simd.threads);
    const std::string detail =
        o.json ? "\"target\":\"" + simd.target + "\",\"threads\":" +
                     std::to_string(simd.threads) + ","
               : " (" + simd.target + ", " + std::to_string(simd.threads) +
                     (simd.threads == 1 ? " thread)" : " threads)");
    bool equal = report(o, "simd", detail, cpu.data(), other.data());
    std::fflush(stdout);
    if (d_pixels) {
        if (!renderGpuFrame(other.data(), d_pixels, p, &error)) {
            return refuse("GPU frame failed: " + error);
        }
        equal = report(o, "gpu", "", cpu.data(), other.data()) && equal;
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
    const std::vector<std::string> targets = simdTargets();
    if (!o.simdTarget.empty() &&
        std::find(targets.begin(), targets.end(), o.simdTarget) == targets.end()) {
        return refuse("option --simd-target: '" + o.simdTarget +
                      "' is not a target this program and CPU can run (usable: " +
                      joined(targets) + ")");
    }
    const unsigned hardware = std::thread::hardware_concurrency();
    const SimdSetup simd{o.simdTarget.empty() ? targets.front() : o.simdTarget,
                         o.threads > 0 ? o.threads : std::max(1, static_cast<int>(hardware))};

    Outputs out;
    std::string error;
    if (!out.open(o, &error)) return refuse(error);

    const FrameParams p{o.mx, o.my, o.precision, VIEW_SCALE};
    const bool wantCpu = !o.verify && (o.renderer == Renderer::Cpu || o.renderer == Renderer::All);
    const bool wantSimd =
        !o.verify && (o.renderer == Renderer::Simd || o.renderer == Renderer::All);
    const bool needGpu = !o.verify && o.renderer == Renderer::Gpu;
    bool useGpu = o.verify || o.renderer == Renderer::Gpu || o.renderer == Renderer::All;

    // Without a usable GPU, `all` and --verify go on without it; --renderer gpu is refused.
    std::string gpuSkipped;
    DeviceImage device;
    if (useGpu && (!gpuUsable(&gpuSkipped) || !device.allocate(&gpuSkipped))) {
        if (needGpu) return refuse("no usable GPU: " + gpuSkipped);
        useGpu = false;
    }
    // Kept off standard output in JSON mode, so that it stays one object per line.
    auto sayGpuSkipped = [&] {
        if (!gpuSkipped.empty() && !useGpu) {
            std::fprintf(o.json ? stderr : stdout, "gpu: skipped: %s\n", gpuSkipped.c_str());
        }
    };
    if (o.verify) {
        sayGpuSkipped();
        return verify(o, p, simd, useGpu ? device.get() : nullptr, out);
    }

    // Counted once, apart from the timed frames: the same frame costs the same steps every time.
    const int64_t iterations = frameIterations(p.mx, p.my, p.precision, p.scale);
    std::unique_ptr<float4[]> cpuFrame, simdFrame, gpuFrame;  // pageable, like the viewer's image
    std::vector<RendererReport> rows;
    auto add = [&](RendererReport r) {
        rows.push_back(std::move(r));
        setSpeedups(rows);
        print(rows.back(), o);
    };

    if (!o.json) {
        std::printf("%s\n", runDescription(o).c_str());
        if (wantSimd) {
            std::printf("simd: Highway target %s (this CPU runs %s), %u hardware threads\n",
                        simd.target.c_str(), joined(targets).c_str(), hardware);
        }
        std::printf("%s\n", tableHeader().c_str());
    }
    if (wantCpu) {
        cpuFrame.reset(new float4[PIXEL_COUNT]());  // touched now, not in a timed frame
        add({"cpu", o.frames, summarize(timeCpuFrames(cpuFrame.get(), p, o.warmup, o.frames)),
             iterations});
    }
    if (wantSimd) {
        simdFrame.reset(new float4[PIXEL_COUNT]());
        std::vector<int> counts{simd.threads};
        if (o.renderer == Renderer::All && simd.threads > 1) counts.insert(counts.begin(), 1);
        for (int threads : counts) {
            RendererReport r{"simd", o.frames,
                             summarize(timeSimdFrames(simdFrame.get(), p, simd.target, threads,
                                                      o.warmup, o.frames)),
                             iterations};
            r.threads = threads;
            r.target = simd.target;
            add(r);
        }
    }
    if (useGpu) {
        gpuFrame.reset(new float4[PIXEL_COUNT]());
        GpuSamples s;
        if (timeGpuFrames(gpuFrame.get(), device.get(), p, o.warmup, o.frames, &s, &error)) {
            RendererReport r{"gpu", o.frames, summarize(s.frameMs), iterations, true};
            r.kernelMs = summarize(s.kernelMs).median;
            r.copyMs = summarize(s.copyMs).median;
            r.threads = 0;
            add(r);
        } else if (needGpu) {
            return refuse("GPU frame failed: " + error);
        } else {
            useGpu = false;
            gpuSkipped = error;
        }
    }
    if (!o.json) {
        for (const std::string& line : speedupLines(rows)) std::printf("%s\n", line.c_str());
    }
    sayGpuSkipped();
    const float4* written =
        cpuFrame ? cpuFrame.get() : simdFrame ? simdFrame.get() : gpuFrame.get();
    if (!out.write(written, &error)) return refuse(error);
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
    return run(parsed.options);
}
