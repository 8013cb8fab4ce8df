// Writing a frame out: the raw PixelImage and an 8-bit PNG of what the window shows. A file
// appears under its name only once it is complete.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "pixel.h"

// The path that names standard output for an output.
constexpr const char* STDOUT_PATH = "-";

// An output of the tool. A regular file or a new name is written to a temporary in the same folder
// (a dot file, removed on SIGINT, SIGTERM and SIGHUP) and renamed over the name on commit, so a
// failed or interrupted run never leaves a partial file under the name (and never touches a file
// already there). A symbolic link is followed to the end of its chain and its target replaced; the
// link stays. Anything else that exists (folder, device, FIFO, socket) is refused at open,
// untouched. The name "-" writes to standard output when committed.
class OutputFile {
public:
    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile();

    // Checks the destination and creates the temporary; false, with *error set (one line), when
    // the destination cannot be written.
    bool open(const std::string& path, std::string* error);
    std::FILE* stream() { return file_; }
    bool isOpen() const { return file_ != nullptr; }  // from open until commit
    // Flushes to disk and renames; on failure removes the temporary.
    bool commit(std::string* error);

    bool toStdout() const { return toStdout_; }
    // The file that commit replaces: the path given, or the end of its chain of links.
    const std::string& target() const { return target_; }

private:
    void discard();  // closes, and removes the temporary
    bool openTemporary(std::string* error);
    // Sets *error to why the file cannot be written, and returns false.
    bool fail(std::string* error, const std::string& why) const;

    std::string path_;
    std::string target_;
    std::string tempPath_;
    int tempSlot_ = -1;  // its registration for removal on SIGINT/SIGTERM/SIGHUP
    bool toStdout_ = false;
    std::FILE* file_ = nullptr;
};

// The frame's bytes as they lie in memory: 786,432 float4, row 0 first, native byte order.
bool writeRaw(OutputFile& out, const float4* pixels, std::string* error);

// Each channel clamped to [0, 1] (NaN counts as 0), then lrintf(c * 255): ByteRule::HalfEven of
// the 8-bit draw, the rounding the window's float draw gives under Mesa.
bool writePng(OutputFile& out, const float4* pixels, std::string* error);

// The frame's files of one run, raw and PNG, either or both or none. Opened together before any
// work, so that a bad path is refused before anything is written.
class FrameOutputs {
public:
    // An empty path: that file is not written.
    bool open(const std::string& rawPath, const std::string& pngPath, std::string* error);
    bool any() const { return raw_.isOpen() || png_.isOpen(); }
    bool toStdout() const { return raw_.toStdout() || png_.toStdout(); }
    // Both images are made in full before either is committed, and standard output comes last,
    // so a refusal never follows an image that went out there. A commit can still fail after
    // the other file is in place; the message then says which one was written.
    bool write(const float4* frame, std::string* error);

private:
    OutputFile raw_, png_;
};
