// The GPU renderer's interface in a build without CUDA: there is no GPU to use, and every call
// says why in the same words.
#include "gpu_renderer.h"

#include <cstdlib>

#include "geometry.h"

namespace {

bool absent(std::string* why) {
    if (why) *why = NO_CUDA_REASON;
    return false;
}

}  // namespace

bool gpuRendererBuilt() {
    return false;
}

bool gpuUsable(std::string* why) {
    return absent(why);
}

float4* allocDeviceImage(std::string* why) {
    absent(why);
    return nullptr;
}

void freeDeviceImage(float4*) {}

// Nothing to pin for: ordinary zeroed memory.
HostImage allocGpuHostImage() {
    return {static_cast<float4*>(calloc(1, BUFFER_SIZE)), false};
}

void freeGpuHostImage(const HostImage& image) {
    free(image.pixels);
}

bool renderJuliaGPU(float4*, float4*, const FrameParams&, std::string* why) {
    return absent(why);
}

bool renderJuliaGPUTimed(float4*, float4*, const FrameParams&, GpuFrameTimes*, std::string* why) {
    return absent(why);
}

bool gpuInfo(GpuInfo*, std::string* why) {
    return absent(why);
}
