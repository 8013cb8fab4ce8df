// julia-fractals-bench: times the CPU and the GPU renderer on the viewer's frame, compares their
// images bit for bit, and writes the frame as raw floats or as a PNG. No window is involved.
#include <atomic>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

#include "compare.h"
#include "cpu_renderer.h"
#include "geometry.h"
#include "gpu_device.h"
#include "image_io.h"
#include "iterations.h"
#include "options.h"
#include "progress.h"
#include "report.h"
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

int verify(const BenchOptions& o, const FrameParams& p, float4* d_pixels, Outputs& out,
           Progress& progress) {
    std::vector<float4> cpu(PIXEL_COUNT), gpu(PIXEL_COUNT);
    std::atomic<int> rows{0};
    progress.phase("cpu: the frame to compare", &rows);
    renderJuliaCPU(cpu.data(), p.mx, p.my, p.precision, p.scale, &rows);
    std::string error;
    progress.phase("gpu: the frame to compare");
    if (!renderGpuFrame(gpu.data(), d_pixels, p, &error)) {
        return refuse(progress, "GPU frame failed: " + error);
    }
    const FrameComparison cmp = compareFrames(cpu.data(), gpu.data());
    if (out.wantRaw || out.wantPng) progress.phase("writing the image");
    if (!out.write(cpu.data(), &error)) return refuse(progress, error);
    progress.clear();

    if (o.json) {
        std::printf("{\"verify\":true,\"seed\":[%s,%s],\"precision\":%d,\"scale\":%s,"
                    "\"pixels\":%d,\"differing\":%d,\"first\":[",
                    shortFloat(o.mx).c_str(), shortFloat(o.my).c_str(), o.precision,
                    shortFloat(VIEW_SCALE).c_str(), PIXEL_COUNT, cmp.differing);
        for (size_t k = 0; k < cmp.listed.size(); k++) {
            const PixelDifference& d = cmp.listed[k];
            std::printf("%s{\"row\":%d,\"column\":%d,\"cpu\":\"%s\",\"gpu\":\"%s\"}", k ? "," : "",
                        d.row, d.column, pixelHex(d.first).c_str(), pixelHex(d.second).c_str());
        }
        std::printf("]}\n");
    } else {
        std::printf("verify: seed (%s, %s), limit %d, scale %s: %d of %d pixels differ\n",
                    shortFloat(o.mx).c_str(), shortFloat(o.my).c_str(), o.precision,
                    shortFloat(VIEW_SCALE).c_str(), cmp.differing, PIXEL_COUNT);
        for (const PixelDifference& d : cmp.listed) {
            std::printf("  row %d, column %d: cpu %s, gpu %s\n", d.row, d.column,
                        pixelHex(d.first).c_str(), pixelHex(d.second).c_str());
        }
    }
    return cmp.differing ? EXIT_DIFFERENT : 0;
}

void print(const RendererReport& r, const BenchOptions& o) {
    if (o.json) std::printf("%s\n", jsonLine(r, o).c_str());
    else std::printf("%s\n", tableRow(r).c_str());
}

int run(const BenchOptions& o) {
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
    const bool wantCpu = !o.verify && o.renderer != Renderer::Gpu;
    const bool needGpu = o.verify || o.renderer == Renderer::Gpu;
    bool useGpu = o.verify || o.renderer != Renderer::Cpu;

    // Without a usable GPU, `all` degrades to the CPU; anything that asked for the GPU is refused.
    std::string gpuSkipped;
    DeviceImage device;
    if (useGpu) progress.phase("gpu: starting CUDA");
    if (useGpu && (!gpuUsable(&gpuSkipped) || !device.allocate(&gpuSkipped))) {
        if (needGpu) return refuse(progress, "no usable GPU: " + gpuSkipped);
        useGpu = false;
    }
    if (progress.enabled()) {
        // For the estimate of the time left: a frame at a huge limit shows at once that it
        // would take hours.
        progress.phase("estimating the work");
        progress.setWork(estimateWork(p.mx, p.my, p.precision, p.scale));
    }
    if (o.verify) return verify(o, p, device.get(), out, progress);

    // Before anything slow: the iteration count costs as much as a frame.
    progress.clear();
    if (!o.json) std::printf("%s\n%s\n", runDescription(o).c_str(), tableHeader().c_str());
    std::fflush(stdout);

    // Counted once, apart from the timed frames: the same frame costs the same steps every time.
    std::atomic<int> rows{0};
    progress.phase("counting iterations", &rows);
    const int64_t iterations = frameIterations(p.mx, p.my, p.precision, p.scale, &rows);
    std::unique_ptr<float4[]> cpuFrame, gpuFrame;  // pageable, like the viewer's host image
    RendererReport cpuReport{"cpu", o.frames, {}, iterations};
    RendererReport gpuReport{"gpu", o.frames, {}, iterations, true};

    if (wantCpu) {
        cpuFrame.reset(new float4[PIXEL_COUNT]());  // touched now, not in a timed frame
        const auto showFrame = [&](bool timed, int k, int count) {
            progress.phase("cpu: " + std::string(timed ? "timed" : "warm-up") + " frame " +
                               std::to_string(k) + " of " + std::to_string(count),
                           &rows);
        };
        cpuReport.frameMs =
            summarize(timeCpuFrames(cpuFrame.get(), p, o.warmup, o.frames, &rows, showFrame));
        progress.clear();
        print(cpuReport, o);
        std::fflush(stdout);
    }
    if (useGpu) {
        gpuFrame.reset(new float4[PIXEL_COUNT]());
        GpuSamples s;
        progress.phase("gpu: " + std::to_string(o.warmup) + " warm-up and " +
                       std::to_string(o.frames) + " timed frames");
        if (timeGpuFrames(gpuFrame.get(), device.get(), p, o.warmup, o.frames, &s, &error)) {
            gpuReport.frameMs = summarize(s.frameMs);
            gpuReport.kernelMs = summarize(s.kernelMs).median;
            gpuReport.copyMs = summarize(s.copyMs).median;
            progress.clear();
            print(gpuReport, o);
            if (wantCpu && !o.json) std::printf("%s\n", speedupLine(cpuReport, gpuReport).c_str());
        } else if (needGpu) {
            return refuse(progress, "GPU frame failed: " + error);
        } else {
            useGpu = false;
            gpuSkipped = error;
        }
    }
    progress.clear();
    if (!gpuSkipped.empty() && !useGpu) {
        if (o.json) std::printf("%s\n", jsonSkipped("gpu", gpuSkipped).c_str());
        else std::printf("gpu: skipped: %s\n", gpuSkipped.c_str());
    }
    std::fflush(stdout);
    if (out.wantRaw || out.wantPng) progress.phase("writing the image");
    if (!out.write(wantCpu ? cpuFrame.get() : gpuFrame.get(), &error)) return refuse(progress, error);
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
    if (parsed.options.renderer == Renderer::Simd) return refuse("the simd renderer is not built in");
    return run(parsed.options);
}
