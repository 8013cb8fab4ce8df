// Shared by the benchmark tool's tests: a scratch folder and whole-file reads.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "pixel.h"

#include "cpu_renderer.h"
#include "geometry.h"

// A fresh folder, removed with everything in it at the end of the test.
struct ScratchDir {
    std::filesystem::path path;
    ScratchDir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "bench-test-XXXXXX").string();
        path = ::mkdtemp(&tmpl[0]);
    }
    ~ScratchDir() { std::filesystem::remove_all(path); }
    std::string operator/(const std::string& name) const { return (path / name).string(); }
    // Everything in the folder, temporaries included.
    std::vector<std::string> entries() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(path)) {
            names.push_back(e.path().filename().string());
        }
        return names;
    }
};

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::vector<float4> cpuFrame(float mx, float my, int precision) {
    std::vector<float4> img(PIXEL_COUNT);
    renderJuliaCPU(img.data(), {mx, my, precision, VIEW_SCALE});
    return img;
}
