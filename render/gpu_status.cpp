// The one check for a usable GPU.
#include "gpu_status.h"

bool gpuUsable(std::string* why) {
    int count = 0;
    const cudaError_t err = cudaGetDeviceCount(&count);
    cudaGetLastError();
    if (err != cudaSuccess) {
        if (why) *why = std::string("cudaGetDeviceCount: ") + cudaGetErrorString(err);
        return false;
    }
    if (count == 0) {
        if (why) *why = "cudaGetDeviceCount found no CUDA device";
        return false;
    }
    return true;
}
