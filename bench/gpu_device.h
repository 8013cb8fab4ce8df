// The GPU as the tool sees it: whether one is usable, and the device image for the kernel.
#pragma once

#include <string>

#include <vector_types.h>

// True when the CUDA runtime reports at least one device; otherwise *why says what it reported.
bool gpuUsable(std::string* why);

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
