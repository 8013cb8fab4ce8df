// julia-gpu-info: what a GPU run depends on, in one look: the device, its compute capability, the
// CUDA versions of the driver and of the runtime linked in, and which of the kernel's images the
// runtime picked for this device (machine code or PTX compiled on the spot). Exit 1, with the
// runtime's reason, where no GPU is usable or the kernel cannot run on it.
#include <cstdio>
#include <string>

#include <cuda_runtime_api.h>

#include "gpu_status.h"

namespace {

std::string cudaVersion(int v) {
    return std::to_string(v / 1000) + "." + std::to_string(v % 1000 / 10);
}

}  // namespace

int main() {
    int runtime = 0, driver = 0;
    cudaRuntimeGetVersion(&runtime);
    cudaDriverGetVersion(&driver);  // 0 where no driver is loaded
    std::printf("CUDA runtime %s (linked in), driver supports CUDA %s\n",
                cudaVersion(runtime).c_str(), driver ? cudaVersion(driver).c_str() : "none");

    std::string why;
    if (!gpuUsable(&why)) {
        std::printf("no usable GPU: %s\n", why.c_str());
        return 1;
    }
    int device = 0;
    cudaDeviceProp prop{};
    cudaGetDevice(&device);
    if (cudaGetDeviceProperties(&prop, device) == cudaSuccess) {
        std::printf("device %d: %s, compute capability %d.%d, %d multiprocessors, %zu MiB\n",
                    device, prop.name, prop.major, prop.minor, prop.multiProcessorCount,
                    prop.totalGlobalMem >> 20);
    }
    cudaFuncAttributes attr{};
    const cudaError_t err = juliaKernelAttributes(&attr);
    if (err != cudaSuccess) {
        std::printf("kernel juliaColorGPU cannot run here: %s\n", cudaGetErrorString(err));
        return 1;
    }
    std::printf("kernel juliaColorGPU: sm_%d machine code, built from compute_%d, "
                "%d registers per thread\n",
                attr.binaryVersion, attr.ptxVersion, attr.numRegs);
    return 0;
}
