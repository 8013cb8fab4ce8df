// window-frame-rate: the viewer's own title, read under a private Xvfb, as the measure of each
// render mode at two states (the initial one, then seed 0 at limit 410), with the float draw and
// then with the 8-bit one (--draw=8bit), each in a viewer of its own; first, the 8-bit draw's
// conversion on its own. With `periodicity`, each viewer runs with --periodicity and seed 0 at
// limit 1000 follows. Not a test: it prints every refreshed rate and the median per mode and
// state, for docs/performance.md.
//
//   window-frame-rate [titles per mode, default 15 [float|8bit|periodicity]...]
//   (draws: float and 8bit unless one is named)
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "byte_image.h"
#include "cpu_renderer.h"
#include "harness.h"

#include <X11/keysym.h>

namespace {

std::string loadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string a, b, c;
    in >> a >> b >> c;
    return a + " " + b + " " + c;
}

// "Julia Fractals:  <label>, <fps> FPS" into label and fps; false for any other title.
bool parseTitle(const std::string& t, std::string* label, double* fps) {
    const std::string head = "Julia Fractals:  ";
    const size_t comma = t.rfind(", ");
    if (t.compare(0, head.size(), head) != 0 || comma == std::string::npos) return false;
    *label = t.substr(head.size(), comma - head.size());
    return std::sscanf(t.c_str() + comma + 2, "%lf FPS", fps) == 1;
}

// Selects the mode by its key; the first refresh after it counts frames of the old mode too, so
// it is dropped. Then `titles` refreshes, each rate printed, the median last.
bool measure(win::Session& s, const char* name, unsigned long key, int titles) {
    s.key(key);
    std::string t, label;
    double fps = 0;
    if (!s.waitTitleRefresh(&t, win::Ms(10000))) return false;
    std::vector<double> rates;
    std::printf("  %-5s load %s:", name, loadAverage().c_str());
    while (static_cast<int>(rates.size()) < titles) {
        if (!s.waitTitleRefresh(&t, win::Ms(10000)) || !parseTitle(t, &label, &fps)) {
            std::printf(" no title refresh (%s)\n", t.c_str());
            return false;
        }
        rates.push_back(fps);
        std::printf(" %.2f", fps);
        std::fflush(stdout);
    }
    std::sort(rates.begin(), rates.end());
    const size_t n = rates.size();
    const double median = n % 2 ? rates[n / 2] : (rates[n / 2 - 1] + rates[n / 2]) / 2;
    std::printf("\n  %-5s %s: median %.2f FPS (min %.2f, max %.2f), load %s\n", name,
                label.c_str(), median, rates.front(), rates.back(), loadAverage().c_str());
    return true;
}

// The conversion of the 8-bit draw on its own, as the display callback runs it (on the GUI thread):
// the initial image, median of 50.
void printConversion() {
    std::vector<float4> image(PIXEL_COUNT);
    renderJuliaCPU(image.data(), {0.0f, 0.0f, 10, win::kScale});
    std::vector<uint8_t> bytes(4 * image.size());
    using Clock = std::chrono::steady_clock;
    std::vector<double> ms;
    for (int k = 0; k < 50; k++) {
        const Clock::time_point t0 = Clock::now();
        imageToBytes(ByteRule::HalfEven, image.data(), bytes.data(), image.size());
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    }
    std::sort(ms.begin(), ms.end());
    std::printf("8-bit conversion (%s, one thread): median %.3f ms per frame (min %.3f)\n",
                byteRuleName(ByteRule::HalfEven), ms[ms.size() / 2], ms.front());
}

// Every mode at each state with one draw, in a viewer of its own.
bool measureDraw(const std::string& draw, bool periodicity, int titles) {
    std::printf("draw %s%s\n", draw.c_str(), periodicity ? ", --periodicity" : "");
    win::Session s;
    win::View view;
    std::vector<std::string> args = {"--draw=" + draw};
    if (periodicity) args.push_back("--periodicity");
    if (!s.startServer() || !s.startProgram(args) || !s.waitForPicture(view)) {
        std::fprintf(stderr, "the viewer did not start under Xvfb\n");
        return false;
    }
    s.moveTo(512, 384);  // over the window, for the wheel; no click, so the seed stays 0
    const struct {
        const char* name;
        unsigned long key;
    } modes[] = {{"cpu", XK_1}, {"simd", XK_3}, {"gpu", XK_2}};
    std::vector<int> limits = {10, 410};
    if (periodicity) limits.push_back(1000);
    for (int limit : limits) {
        if (limit != view.precision) {
            s.key(XK_3);  // reach the limit quickly
            s.wheel((limit - view.precision) / 2);
            view.precision = limit;
            if (!s.waitForPicture(view, win::Ms(60000))) {
                std::fprintf(stderr, "the picture for limit %d did not show\n", limit);
                return false;
            }
        }
        std::printf("seed 0 + 0i, limit %d\n", limit);
        for (const auto& m : modes) {
            if (m.key == XK_2 && !gpuUsable()) {
                std::printf("  gpu   no usable GPU here\n");
                continue;
            }
            if (!measure(s, m.name, m.key, titles)) return false;
        }
    }
    std::printf("console: %s", s.programStdout().c_str());
    std::printf("stderr: %s", s.programStderr().c_str());
    win::expectEscapeEnds(s);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    int titles = 15;
    std::vector<std::string> draws;
    bool usage = false, periodicity = false;
    if (argc > 1) {
        char* end = nullptr;
        const long n = std::strtol(argv[1], &end, 10);
        usage = *end != '\0' || n < 1 || n > 1000;
        titles = static_cast<int>(n);
    }
    for (int k = 2; k < argc; k++) {
        const std::string word = argv[k];
        if (word == "periodicity") {
            periodicity = true;
        } else {
            draws.push_back(word);
            usage = usage || (word != "float" && word != "8bit");
        }
    }
    if (usage) {
        std::fprintf(stderr, "usage: window-frame-rate [titles per mode, 1 to 1000 "
                             "[float|8bit|periodicity]...]\n");
        return 2;
    }
    if (draws.empty()) draws = {"float", "8bit"};
    printConversion();
    for (const std::string& draw : draws) {
        if (!measureDraw(draw, periodicity, titles)) return 1;
    }
    return 0;
}
