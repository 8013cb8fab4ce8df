#include "report.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "geometry.h"

namespace {

std::string format(const char* fmt, double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, fmt, v);
    return buf;
}

double mpixelPerS(const RendererReport& r) { return PIXEL_COUNT / (r.frameMs.median * 1e3); }
double nsPerIteration(const RendererReport& r) { return r.frameMs.median * 1e6 / r.iterations; }
double copyGBs(const RendererReport& r) { return BUFFER_SIZE / (r.copyMs * 1e6); }

std::string cell(bool present, const char* fmt, double v) {
    return present ? format(fmt, v) : "-";
}

std::string json(bool present, double v) { return present ? format("%.6g", v) : "null"; }

// A JSON string: quotes, backslashes and control characters escaped; other bytes as they are.
std::string jsonString(const std::string& text) {
    std::string s = "\"";
    for (const unsigned char c : text) {
        if (c == '"' || c == '\\') {
            s += '\\';
            s += static_cast<char>(c);
        } else if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            s += buf;
        } else {
            s += static_cast<char>(c);
        }
    }
    return s + "\"";
}

}  // namespace

std::string shortFloat(float v) {
    char buf[32];
    for (int digits = 1; digits <= 9; digits++) {
        std::snprintf(buf, sizeof buf, "%.*g", digits, v);
        if (std::strtof(buf, nullptr) == v) break;  // 9 digits always read back exactly
    }
    return buf;
}

std::string runDescription(const BenchOptions& o) {
    char buf[120];
    std::snprintf(buf, sizeof buf, "limit %d, scale %s, %dx%d: %d timed frames after %d warm-up",
                  o.precision, shortFloat(VIEW_SCALE).c_str(), WIDTH, HEIGHT, o.frames, o.warmup);
    return "seed (" + shortFloat(o.mx) + ", " + shortFloat(o.my) + "), " + buf;
}

std::string tableHeader() {
    char buf[256];
    std::snprintf(buf, sizeof buf, "%-8s %7s %6s %9s %9s %9s %9s %13s %8s %9s %9s %9s", "renderer",
                  "threads", "frames", "min ms", "median ms", "max ms", "Mpixel/s", "iter/frame", "ns/iter",
                  "kernel ms", "copy ms", "copy GB/s");
    return buf;
}

std::string tableRow(const RendererReport& r) {
    const bool timed = r.frameMs.median > 0;
    const bool perIter = timed && r.iterations > 0;
    char buf[256];
    std::snprintf(buf, sizeof buf, "%-8s %7s %6d %9.3f %9.3f %9.3f %9s %13lld %8s %9s %9s %9s",
                  r.renderer, cell(r.threads > 0, "%.0f", r.threads).c_str(), r.frames, r.frameMs.min, r.frameMs.median, r.frameMs.max,
                  cell(timed, "%.1f", mpixelPerS(r)).c_str(),
                  static_cast<long long>(r.iterations),
                  cell(perIter, "%.3f", nsPerIteration(r)).c_str(),
                  cell(r.gpu, "%.3f", r.kernelMs).c_str(), cell(r.gpu, "%.3f", r.copyMs).c_str(),
                  cell(r.gpu && r.copyMs > 0, "%.2f", copyGBs(r)).c_str());
    return buf;
}

namespace {

std::string label(const RendererReport& r) {
    if (r.gpu || std::string(r.renderer) == "cpu") return r.renderer;
    return std::string(r.renderer) + " " + std::to_string(r.threads) +
           (r.threads == 1 ? " thread" : " threads");
}

double ratio(const RendererReport& slow, const RendererReport& fast) {
    return fast.frameMs.median > 0 ? slow.frameMs.median / fast.frameMs.median : 0;
}

}  // namespace

void setSpeedups(std::vector<RendererReport>& rows) {
    const RendererReport* cpu = nullptr;
    const RendererReport* simd = nullptr;  // the one with the most threads
    for (const RendererReport& r : rows) {
        if (std::string(r.renderer) == "cpu") cpu = &r;
        if (std::string(r.renderer) == "simd" && (!simd || r.threads > simd->threads)) simd = &r;
    }
    for (RendererReport& r : rows) {
        if (cpu && &r != cpu) r.vsCpu = ratio(*cpu, r);
        if (simd && r.gpu) r.vsSimd = ratio(*simd, r);
    }
}

std::vector<std::string> speedupLines(const std::vector<RendererReport>& rows) {
    std::vector<std::string> lines;
    std::string vsCpu, vsSimd;
    for (const RendererReport& r : rows) {
        if (r.vsCpu > 0) {
            vsCpu += (vsCpu.empty() ? "" : ", ") + label(r) + format(" %.1fx", r.vsCpu);
        }
        if (r.vsSimd > 0) vsSimd = format("%.1fx", r.vsSimd);
    }
    if (!vsCpu.empty()) lines.push_back("speedup over cpu of the median frame: " + vsCpu);
    if (!vsSimd.empty()) {
        int threads = 0;
        for (const RendererReport& r : rows) {
            if (std::string(r.renderer) == "simd") threads = std::max(threads, r.threads);
        }
        lines.push_back("speedup gpu/simd on " + std::to_string(threads) +
                        (threads == 1 ? " thread: " : " threads: ") + vsSimd);
    }
    return lines;
}

std::string jsonLine(const RendererReport& r, const BenchOptions& o) {
    const bool timed = r.frameMs.median > 0;
    std::string s = std::string("{\"renderer\":\"") + r.renderer + "\"";
    s += ",\"seed\":[" + shortFloat(o.mx) + "," + shortFloat(o.my) + "]";
    s += ",\"precision\":" + std::to_string(o.precision);
    s += ",\"scale\":" + shortFloat(VIEW_SCALE);
    if (r.threads > 0) s += ",\"threads\":" + std::to_string(r.threads);
    if (!r.target.empty()) s += ",\"target\":\"" + r.target + "\"";
    s += ",\"frames\":" + std::to_string(r.frames);
    s += ",\"warmup\":" + std::to_string(o.warmup);
    s += ",\"min_ms\":" + format("%.6g", r.frameMs.min);
    s += ",\"median_ms\":" + format("%.6g", r.frameMs.median);
    s += ",\"max_ms\":" + format("%.6g", r.frameMs.max);
    s += ",\"mpixel_per_s\":" + json(timed, mpixelPerS(r));
    s += ",\"iterations\":" + std::to_string(r.iterations);
    s += ",\"ns_per_iteration\":" + json(timed && r.iterations > 0, nsPerIteration(r));
    if (r.gpu) {
        s += ",\"kernel_ms\":" + format("%.6g", r.kernelMs);
        s += ",\"copy_ms\":" + format("%.6g", r.copyMs);
        s += ",\"copy_gb_per_s\":" + json(r.copyMs > 0, copyGBs(r));
    }
    if (r.vsCpu > 0) s += ",\"speedup_vs_cpu\":" + format("%.6g", r.vsCpu);
    if (r.vsSimd > 0) s += ",\"speedup_vs_simd\":" + format("%.6g", r.vsSimd);
    return s + "}";
}

std::string jsonSkipped(const char* renderer, const std::string& reason) {
    return std::string("{\"renderer\":\"") + renderer + "\",\"skipped\":true,\"reason\":" +
           jsonString(reason) + "}";
}
