// The GPU as the tool sees it: whether one is usable (the renderers' own check), and the device
// image for the kernel.
#pragma once

#include <string>

#include <vector_types.h>

#include "gpu_status.h"

// The device PixelImage, released with the object.
class DeviceImage {
public:
    DeviceImage() = default;
    DeviceImage(const DeviceImage&) = delete;
    DeviceImage& operator=(const DeviceImage&) = delete;
    ~DeviceImage();

    bool allocate(std::string* error);
    float4* get() const { return d_pixels_; }

private:
    float4* d_pixels_ = nullptr;
};
