// Which renderer a run, a table row, a JSON line or a --verify line is about: one value, compared
// as a value, with its one name.
#pragma once

// All is a choice of --renderer only (every renderer); no row is about it.
enum class Renderer { Cpu, Simd, Gpu, All };
constexpr Renderer RENDERER_CHOICES[] = {Renderer::Cpu, Renderer::Simd, Renderer::Gpu,
                                         Renderer::All};

// The word of --renderer, the table's first column and JSON's "renderer".
inline const char* rendererName(Renderer r) {
    switch (r) {
    case Renderer::Cpu: return "cpu";
    case Renderer::Simd: return "simd";
    case Renderer::Gpu: return "gpu";
    case Renderer::All: return "all";
    }
    return "?";
}
