// The output files: the checks on what a path names, the temporary beside the target, and the
// raw and PNG encodings.
#include "image_io.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include "byte_image.h"
#include "geometry.h"
#include "interrupt_cleanup.h"

namespace {

namespace fs = std::filesystem;

constexpr int MAX_LINKS = 40;  // as the kernel allows in one path lookup

// Why a file of this type, not a regular one, may not be replaced.
std::string notRegular(fs::file_type type) {
    switch (type) {
    case fs::file_type::directory: return "it is a folder";
    case fs::file_type::character:
    case fs::file_type::block: return "it is a device, not a regular file";
    case fs::file_type::fifo: return "it is a FIFO, not a regular file";
    case fs::file_type::socket: return "it is a socket, not a regular file";
    default: return "it is not a regular file";
    }
}

// The name that writing `path` replaces, in *target: `path` itself, or where its chain of
// symbolic links ends. Returns why it may not be written, or nothing. A name that does not exist
// yet (a new file, or a dangling link's target) is fine: whether its folder exists shows when the
// temporary is made there. Any other file but a regular one is refused.
std::string resolveTarget(const std::string& path, std::string* target) {
    fs::path p = path;
    for (int links = 0;; links++) {
        *target = p.string();
        std::error_code ec;
        const fs::file_type type = fs::symlink_status(p, ec).type();
        if (type == fs::file_type::not_found || type == fs::file_type::regular) return "";
        if (ec) return ec.message();
        if (type != fs::file_type::symlink) return notRegular(type);
        if (links == MAX_LINKS) return "too many levels of symbolic links";
        const fs::path link = fs::read_symlink(p, ec);
        if (ec) return ec.message();
        p = p.parent_path() / link;  // relative to the link's own folder; an absolute one replaces
    }
}

}  // namespace

OutputFile::~OutputFile() { discard(); }

void OutputFile::discard() {
    if (file_) {
        std::fclose(file_);
        file_ = nullptr;
    }
    if (!tempPath_.empty()) {
        ::unlink(tempPath_.c_str());
        tempPath_.clear();
    }
    unregisterTemporary(tempSlot_);
    tempSlot_ = -1;
}

bool OutputFile::fail(std::string* error, const std::string& why) const {
    const std::string via = target_ == path_ ? "" : " (a link to '" + target_ + "')";
    *error = "cannot write '" + path_ + "'" + via + ": " + why;
    return false;
}

bool OutputFile::open(const std::string& path, std::string* error) {
    discard();
    path_ = path;
    toStdout_ = path == STDOUT_PATH;
    if (toStdout_) {
        target_ = "standard output";
        if (::isatty(STDOUT_FILENO)) {
            *error = "will not write an image to a terminal: redirect standard output or name a file";
            return false;
        }
        // A stream of its own, so closing it at commit leaves the process's standard output be.
        const int fd = ::dup(STDOUT_FILENO);
        file_ = fd < 0 ? nullptr : ::fdopen(fd, "wb");
        if (!file_) {
            *error = std::string("cannot write to standard output: ") + std::strerror(errno);
            if (fd >= 0) ::close(fd);
            return false;
        }
        return true;
    }
    const std::string why = resolveTarget(path, &target_);
    if (!why.empty()) return fail(error, why);
    if (!fs::path(target_).has_filename()) return fail(error, "it names a folder");
    return openTemporary(error);
}

bool OutputFile::openTemporary(std::string* error) {
    const fs::path target = target_;
    std::string temp = (target.parent_path() / ("." + target.filename().string() + ".tmp-XXXXXX"))
                           .string();
    const int fd = createTemporary(&temp, &tempSlot_);
    if (fd < 0) return fail(error, std::strerror(errno));
    tempPath_ = temp;
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);  // the mode an ordinary new file gets: mkstemp makes it private
    file_ = ::fdopen(fd, "wb");
    if (file_) return true;
    fail(error, std::strerror(errno));
    ::close(fd);
    discard();
    return false;
}

bool OutputFile::commit(std::string* error) {
    if (!file_) return fail(error, "not open");
    bool ok = (std::fflush(file_) == 0 && !std::ferror(file_) &&
               (toStdout_ || ::fsync(::fileno(file_)) == 0)) ||
              fail(error, std::strerror(errno));
    std::error_code ec;
    // Checked again: the name may have become something else since open.
    if (ok && !toStdout_ && fs::symlink_status(target_, ec).type() != fs::file_type::regular &&
        !ec) {
        ok = fail(error, "it is no longer a regular file");
    }
    const int closed = std::fclose(file_);
    file_ = nullptr;
    if (ok && closed != 0) ok = fail(error, std::strerror(errno));
    // Once renamed, the temporary's name is gone, so a signal before it is forgotten removes
    // nothing.
    if (ok && !toStdout_ && ::rename(tempPath_.c_str(), target_.c_str()) != 0) {
        ok = fail(error, std::strerror(errno));
    } else if (ok) {
        tempPath_.clear();
    }
    discard();
    return ok;
}

bool writeRaw(OutputFile& out, const float4* pixels, std::string* error) {
    if (std::fwrite(pixels, 1, BUFFER_SIZE, out.stream()) != BUFFER_SIZE) {
        *error = std::string("cannot write the raw image: ") + std::strerror(errno);
        return false;
    }
    return true;
}

// Alpha is left out: the window draws without blending. Row 0, first in memory, is the window's
// bottom row, hence the negative stride: the PNG starts at the top.
bool writePng(OutputFile& out, const float4* pixels, std::string* error) {
    std::vector<uint8_t> rgb(static_cast<size_t>(PIXEL_COUNT) * 4);
    imageToBytes(ByteRule::HalfEven, pixels, rgb.data(), PIXEL_COUNT);
    // RGBA to RGB in place: each byte moves down, over one already copied.
    for (size_t k = 0; k < PIXEL_COUNT; k++) {
        for (size_t c = 0; c < 3; c++) rgb[3 * k + c] = rgb[4 * k + c];
    }
    rgb.resize(static_cast<size_t>(PIXEL_COUNT) * 3);
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = WIDTH;
    image.height = HEIGHT;
    image.format = PNG_FORMAT_RGB;
    if (!png_image_write_to_stdio(&image, out.stream(), 0, rgb.data(), -3 * WIDTH, nullptr)) {
        *error = std::string("cannot write the PNG image: ") + image.message;
        png_image_free(&image);
        return false;
    }
    return true;
}

bool FrameOutputs::open(const std::string& rawPath, const std::string& pngPath,
                        std::string* error) {
    return (rawPath.empty() || raw_.open(rawPath, error)) &&
           (pngPath.empty() || png_.open(pngPath, error));
}

bool FrameOutputs::write(const float4* frame, std::string* error) {
    const struct {
        OutputFile& file;
        bool (*write)(OutputFile&, const float4*, std::string*);
        const char* what;
    } items[] = {{raw_, writeRaw, "the raw image"}, {png_, writePng, "the PNG"}};
    std::string written;
    for (bool stdoutPass : {false, true}) {
        for (const auto& it : items) {
            if (it.file.isOpen() && it.file.toStdout() == stdoutPass &&
                !it.write(it.file, frame, error)) {
                return false;
            }
        }
        for (const auto& it : items) {
            if (!it.file.isOpen() || it.file.toStdout() != stdoutPass) continue;
            if (!it.file.commit(error)) {
                if (!written.empty()) *error += "; " + written + " was written";
                return false;
            }
            written = std::string(it.what) + " '" + it.file.target() + "'";
        }
    }
    return true;
}
