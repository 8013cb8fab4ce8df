// Writing a frame to disk: the raw PixelImage and an 8-bit PNG of what the window shows. A file
// appears under its name only once it is complete.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <vector_types.h>

// A file written to a temporary in the destination's folder and renamed over the destination on
// commit, so a failed run never leaves a partial file under the destination's name (and never
// touches a file already there). Dropping an uncommitted OutputFile removes the temporary.
class OutputFile {
public:
    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile();

    // Creates the temporary; false, with *error set, when the destination cannot be written.
    bool open(const std::string& path, std::string* error);
    std::FILE* stream() { return file_; }
    // Flushes to disk and renames; on failure removes the temporary.
    bool commit(std::string* error);
    void discard();

private:
    std::string path_;
    std::string tempPath_;
    std::FILE* file_ = nullptr;
};

// The frame's bytes as they lie in memory: 786,432 float4, row 0 first, native byte order.
bool writeRaw(OutputFile& out, const float4* pixels, std::string* error);

// One channel to 8 bits: clamped to [0, 1] (NaN counts as 0), then lrintf(c * 255).
uint8_t channelTo8(float c);

// The frame as RGB bytes in the window's top-to-bottom order: the first row is image row 767.
// Alpha is left out: the window draws without blending, so it is not part of the picture.
std::vector<uint8_t> toRgb8TopDown(const float4* pixels);

bool writePng(OutputFile& out, const float4* pixels, std::string* error);
