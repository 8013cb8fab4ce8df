// The table, JSON and --verify lines built as strings, so tests read them without a frame run.
#include "report.h"

#include <algorithm>
#include <cstdio>

#include <fmt/format.h>

#include "geometry.h"

namespace {

double mpixelPerS(const RendererReport& r) { return PIXEL_COUNT / (r.frameMs.median * 1e3); }
// Per iteration of the rule, or per step taken.
double nsPer(const RendererReport& r, int64_t steps) { return r.frameMs.median * 1e6 / steps; }
double copyGBs(const RendererReport& r) { return BUFFER_SIZE / (r.copyMs * 1e6); }

// A table cell, "-" where the quantity does not exist.
std::string cell(bool present, double v, int decimals) {
    return present ? fmt::format("{:.{}f}", v, decimals) : "-";
}

std::string json(double v) { return fmt::format("{:.6g}", v); }
std::string json(bool present, double v) { return present ? json(v) : "null"; }

// A JSON string: quotes, backslashes and control characters escaped; other bytes as they are.
std::string jsonString(const std::string& text) {
    std::string s = "\"";
    for (const unsigned char c : text) {
        if (c == '"' || c == '\\') s += '\\';
        if (c < 0x20) s += fmt::format("\\u{:04x}", c);
        else s += static_cast<char>(c);
    }
    return s + "\"";
}

std::string frameText(const FrameParams& f) {
    return fmt::format("seed ({}, {}), limit {}, scale {}{}", shortFloat(f.mx), shortFloat(f.my),
                       f.precision, shortFloat(f.scale),
                       f.periodicity ? ", with the periodicity check" : "");
}

std::string frameJson(const FrameParams& f) {
    return fmt::format("\"seed\":[{},{}],\"precision\":{},\"scale\":{}{}", shortFloat(f.mx),
                       shortFloat(f.my), f.precision, shortFloat(f.scale),
                       f.periodicity ? ",\"periodicity\":true" : "");
}

std::string label(const RendererReport& r) {
    if (r.renderer != Renderer::Simd) return rendererName(r.renderer);
    return std::string(rendererName(r.renderer)) + " " + threadCount(r.threads);
}

double ratio(const RendererReport& slow, const RendererReport& fast) {
    return fast.frameMs.median > 0 ? slow.frameMs.median / fast.frameMs.median : 0;
}

}  // namespace

void say(const std::string& line) {
    fmt::print("{}\n", line);
    std::fflush(stdout);
}

void sayError(const std::string& message) {
    fmt::print(stderr, "julia-fractals-bench: {}\n", message);
}

std::string shortFloat(float v) { return fmt::format("{}", v); }

std::string threadCount(int threads) {
    return fmt::format("{} {}", threads, threads == 1 ? "thread" : "threads");
}

std::string runDescription(const RunInfo& run) {
    return fmt::format("{}, {}x{}: {} timed frames after {} warm-up", frameText(run.frame), WIDTH,
                       HEIGHT, run.frames, run.warmup);
}

// The steps column, with the periodicity check only: "" or the cell and its separator.
std::string stepsCell(const RunInfo& run, const std::string& text) {
    return run.frame.periodicity ? fmt::format("{:>13} ", text) : "";
}

std::string tableHeader(const RunInfo& run) {
    return fmt::format("{:<8} {:>7} {:>6} {:>9} {:>9} {:>9} {:>9} {:>13} {}{:>8} {:>9} {:>9} {:>9}",
                       "renderer", "threads", "frames", "min ms", "median ms", "max ms",
                       "Mpixel/s", "iter/frame", stepsCell(run, "steps/frame"),
                       run.frame.periodicity ? "ns/step" : "ns/iter", "kernel ms", "copy ms",
                       "copy GB/s");
}

std::string tableRow(const RendererReport& r, const RunInfo& run) {
    const bool timed = r.frameMs.median > 0;
    const bool gpu = r.renderer == Renderer::Gpu;
    const int64_t steps = run.frame.periodicity ? r.steps : r.iterations;
    return fmt::format(
        "{:<8} {:>7} {:>6} {:>9.3f} {:>9.3f} {:>9.3f} {:>9} {:>13} {}{:>8} {:>9} {:>9} {:>9}",
        rendererName(r.renderer), cell(r.threads > 0, r.threads, 0), r.frames, r.frameMs.min,
        r.frameMs.median, r.frameMs.max, cell(timed, mpixelPerS(r), 1), r.iterations,
        stepsCell(run, std::to_string(r.steps)), cell(timed && steps > 0, nsPer(r, steps), 3),
        cell(gpu, r.kernelMs, 3), cell(gpu, r.copyMs, 3), cell(gpu && r.copyMs > 0, copyGBs(r), 2));
}

std::string stepsLegend() {
    return "steps/frame: the one-pixel loop's steps with the periodicity check, on every row\n"
           "(the simd renderer's lanes check at the ends of their blocks, so they may take a few\n"
           "more); ns/step: the median frame over them";
}

void setSpeedups(std::vector<RendererReport>& rows) {
    const RendererReport* cpu = nullptr;
    const RendererReport* simd = nullptr;  // the one with the most threads
    for (const RendererReport& r : rows) {
        if (r.renderer == Renderer::Cpu) cpu = &r;
        if (r.renderer == Renderer::Simd && (!simd || r.threads > simd->threads)) simd = &r;
    }
    for (RendererReport& r : rows) {
        if (cpu && &r != cpu) r.vsCpu = ratio(*cpu, r);
        if (simd && r.renderer == Renderer::Gpu) r.vsSimd = ratio(*simd, r);
    }
}

std::vector<std::string> speedupLines(const std::vector<RendererReport>& rows) {
    std::vector<std::string> vsCpu, lines;
    int simdThreads = 0;
    for (const RendererReport& r : rows) {
        if (r.vsCpu > 0) vsCpu.push_back(fmt::format("{} {:.1f}x", label(r), r.vsCpu));
        if (r.renderer == Renderer::Simd) simdThreads = std::max(simdThreads, r.threads);
    }
    if (!vsCpu.empty()) {
        lines.push_back(fmt::format("speedup over cpu of the median frame: {}",
                                    fmt::join(vsCpu, ", ")));
    }
    for (const RendererReport& r : rows) {
        if (r.vsSimd > 0) {
            lines.push_back(fmt::format("speedup gpu/simd on {}: {:.1f}x", threadCount(simdThreads),
                                        r.vsSimd));
        }
    }
    return lines;
}

std::string jsonLine(const RendererReport& r, const RunInfo& run) {
    const bool timed = r.frameMs.median > 0;
    std::string s =
        fmt::format("{{\"renderer\":\"{}\",{}", rendererName(r.renderer), frameJson(run.frame));
    if (r.threads > 0) s += fmt::format(",\"threads\":{}", r.threads);
    if (!r.target.empty()) s += fmt::format(",\"target\":\"{}\"", r.target);
    s += fmt::format(",\"frames\":{},\"warmup\":{},\"min_ms\":{},\"median_ms\":{},\"max_ms\":{}",
                     r.frames, run.warmup, json(r.frameMs.min), json(r.frameMs.median),
                     json(r.frameMs.max));
    s += fmt::format(",\"mpixel_per_s\":{},\"iterations\":{}", json(timed, mpixelPerS(r)),
                     r.iterations);
    if (run.frame.periodicity) s += fmt::format(",\"steps\":{}", r.steps);
    s += ",\"ns_per_iteration\":" + json(timed && r.iterations > 0, nsPer(r, r.iterations));
    if (run.frame.periodicity) {
        s += ",\"ns_per_step\":" + json(timed && r.steps > 0, nsPer(r, r.steps));
    }
    if (r.renderer == Renderer::Gpu) {
        s += fmt::format(",\"kernel_ms\":{},\"copy_ms\":{},\"copy_gb_per_s\":{}", json(r.kernelMs),
                         json(r.copyMs), json(r.copyMs > 0, copyGBs(r)));
    }
    if (r.vsCpu > 0) s += ",\"speedup_vs_cpu\":" + json(r.vsCpu);
    if (r.vsSimd > 0) s += ",\"speedup_vs_simd\":" + json(r.vsSimd);
    return s + "}";
}

std::string skippedLine(Renderer renderer, const std::string& reason, bool json) {
    const char* name = rendererName(renderer);
    if (!json) return fmt::format("{}: skipped: {}", name, reason);
    return fmt::format("{{\"renderer\":\"{}\",\"skipped\":true,\"reason\":{}}}", name,
                       jsonString(reason));
}

std::string verifyReport(const FrameParams& frame, Renderer renderer, const std::string& target,
                         int threads, const FrameComparison& cmp, bool json) {
    const char* name = rendererName(renderer);
    // With the check, the reference is the loop without it, named apart from the cpu renderer.
    const char* reference = !frame.periodicity ? "cpu" : json ? "plain_cpu" : "plain cpu";
    const char* pixel = json ? "{{\"row\":{},\"column\":{},\"{}\":\"{}\",\"{}\":\"{}\"}}"
                             : "\n  row {}, column {}: {} {}, {} {}";
    std::vector<std::string> first;
    for (const PixelDifference& d : cmp.listed) {
        first.push_back(fmt::format(fmt::runtime(pixel), d.row, d.column, reference,
                                    pixelHex(d.first), name, pixelHex(d.second)));
    }
    if (json) {
        const std::string simd =
            target.empty() ? "" : fmt::format("\"target\":\"{}\",\"threads\":{},", target, threads);
        return fmt::format("{{\"verify\":true,\"renderer\":\"{}\",{}{},\"pixels\":{},"
                           "\"differing\":{},\"first\":[{}]}}",
                           name, simd, frameJson(frame), PIXEL_COUNT, cmp.differing,
                           fmt::join(first, ","));
    }
    const std::string simd =
        target.empty() ? "" : fmt::format(" ({}, {})", target, threadCount(threads));
    return fmt::format("verify {}{}: {}: {} of {} pixels differ{}", name, simd,
                       frameText(frame), cmp.differing, PIXEL_COUNT, fmt::join(first, ""));
}
