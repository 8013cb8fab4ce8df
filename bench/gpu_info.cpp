// julia-gpu-info: what a GPU run depends on, in one look: the device, its compute capability, the
// CUDA versions of the driver and of the runtime linked in, and which of the kernel's images the
// runtime picked for this device (machine code or PTX compiled on the spot). Exit 1, with the
// runtime's reason, where no GPU is usable or the kernel cannot run on it.
#include <cstdio>
#include <string>

#include "gpu_renderer.h"

namespace {

std::string versionText(int v) {
    return std::to_string(v / 1000) + "." + std::to_string(v % 1000 / 10);
}

}  // namespace

int main() {
    GpuInfo info;
    std::string why;
    const bool ok = gpuInfo(&info, &why);
    if (!gpuRendererBuilt()) {
        std::printf("no usable GPU: %s\n", why.c_str());
        return 1;
    }
    std::printf("CUDA runtime %s (linked in), driver supports CUDA %s\n",
                versionText(info.runtimeVersion).c_str(),
                info.driverVersion ? versionText(info.driverVersion).c_str() : "none");
    if (info.device) {
        std::printf("device: %s, compute capability %d.%d, %d multiprocessors, %lld MiB\n",
                    info.name.c_str(), info.major, info.minor, info.multiprocessors,
                    info.memoryMiB);
    }
    if (!ok) {
        std::printf("%s%s\n", info.device ? "" : "no usable GPU: ", why.c_str());
        return 1;
    }
    std::printf("kernel juliaColorGPU: sm_%d machine code, built from compute_%d, "
                "%d registers per thread\n",
                info.binaryVersion, info.ptxVersion, info.registers);
    return 0;
}
