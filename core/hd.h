// One source, two builds: marks the fractal arithmetic for both the host and the device compiler,
// so plain C++ translation units can include the core as well as CUDA ones.
#pragma once

#if defined(__CUDACC__)
#define JULIA_HD __host__ __device__ __forceinline__
#else
#define JULIA_HD inline
#endif
