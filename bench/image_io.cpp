#include "image_io.h"

#include <cerrno>
#include <cmath>
#include <cstring>

#include <fcntl.h>
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include "geometry.h"

namespace {

std::string sysError(const std::string& what, const std::string& path) {
    return what + " '" + path + "': " + std::strerror(errno);
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
}

bool OutputFile::open(const std::string& path, std::string* error) {
    discard();
    struct stat st;
    if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        *error = "cannot write '" + path + "': it is a folder";
        return false;
    }
    const size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string temp = dir + "." + base + ".tmp-XXXXXX";
    const int fd = ::mkstemp(&temp[0]);
    if (fd < 0) {
        *error = sysError("cannot write", path);
        return false;
    }
    // mkstemp makes the file private; give it the mode an ordinary new file would get.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    file_ = ::fdopen(fd, "wb");
    if (!file_) {
        *error = sysError("cannot write", path);
        ::close(fd);
        ::unlink(temp.c_str());
        return false;
    }
    path_ = path;
    tempPath_ = temp;
    return true;
}

bool OutputFile::commit(std::string* error) {
    if (!file_) {
        *error = "cannot write '" + path_ + "': not open";
        return false;
    }
    bool ok = std::fflush(file_) == 0 && !std::ferror(file_) && ::fsync(::fileno(file_)) == 0;
    if (!ok) *error = sysError("cannot write", path_);
    const int closed = std::fclose(file_);
    file_ = nullptr;
    if (ok && closed != 0) {
        *error = sysError("cannot write", path_);
        ok = false;
    }
    if (ok && ::rename(tempPath_.c_str(), path_.c_str()) != 0) {
        *error = sysError("cannot rename the temporary file onto", path_);
        ok = false;
    }
    if (ok) tempPath_.clear();
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

uint8_t channelTo8(float c) {
    const float clamped = std::fmin(std::fmax(c, 0.0f), 1.0f);  // fmax turns NaN into 0
    return static_cast<uint8_t>(std::lrintf(clamped * 255.0f));
}

std::vector<uint8_t> toRgb8TopDown(const float4* pixels) {
    std::vector<uint8_t> rgb(static_cast<size_t>(PIXEL_COUNT) * 3);
    for (int r = 0; r < HEIGHT; r++) {
        const float4* src = pixels + static_cast<size_t>(HEIGHT - 1 - r) * WIDTH;
        uint8_t* dst = rgb.data() + static_cast<size_t>(r) * WIDTH * 3;
        for (int j = 0; j < WIDTH; j++) {
            dst[3 * j + 0] = channelTo8(src[j].x);
            dst[3 * j + 1] = channelTo8(src[j].y);
            dst[3 * j + 2] = channelTo8(src[j].z);
        }
    }
    return rgb;
}

bool writePng(OutputFile& out, const float4* pixels, std::string* error) {
    const std::vector<uint8_t> rgb = toRgb8TopDown(pixels);
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = WIDTH;
    image.height = HEIGHT;
    image.format = PNG_FORMAT_RGB;
    if (!png_image_write_to_stdio(&image, out.stream(), 0, rgb.data(), 0, nullptr)) {
        *error = std::string("cannot write the PNG image: ") + image.message;
        png_image_free(&image);
        return false;
    }
    return true;
}
