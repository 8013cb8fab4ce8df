// The device image the tool renders into, released with its object.
#include "gpu_device.h"

#include <cuda_runtime_api.h>

#include "geometry.h"

DeviceImage::~DeviceImage() {
    if (d_pixels_) cudaFree(d_pixels_);
}

bool DeviceImage::allocate(std::string* error) {
    const cudaError_t err = cudaMalloc(reinterpret_cast<void**>(&d_pixels_), BUFFER_SIZE);
    if (err != cudaSuccess) {
        d_pixels_ = nullptr;
        *error = std::string("cudaMalloc of the device image: ") + cudaGetErrorString(err);
        return false;
    }
    return true;
}
