// Whether this process can use a GPU, asked in one place by the viewer's tests, the bench and the
// window harness alike, so they all agree on what "no usable GPU" means and say why the same way.
#pragma once

#include <string>

#include <cuda_runtime_api.h>

// True when the CUDA runtime reports at least one device. Otherwise false, with *why (if given)
// saying what the runtime reported. The runtime's error is cleared, so it is not mistaken later
// for the failure of another call.
bool gpuUsable(std::string* why = nullptr);

// The kernel as the runtime would run it on the current device: which machine code or PTX it
// picked (binaryVersion, ptxVersion) and its register use. Fails where no image fits the device.
cudaError_t juliaKernelAttributes(cudaFuncAttributes* attributes);
