// glDrawPixels as the window tests see it: preloaded into the viewer (LD_PRELOAD), this one writes
// "width height format type" for every call to the file descriptor JULIA_GL_SPY_FD names, then
// hands the call to the real function. The pictures are the same whichever draw runs, so only this
// shows which one did. With JULIA_GL_SPY_ALTER_BYTES set it also flips the lowest bit of the first
// byte of every 8-bit RGBA draw, as a GL that does not show our own bytes unchanged would, so that
// the 8-bit draw's second check has something to find.
#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include <GL/gl.h>

namespace {

using DrawPixels = void (*)(GLsizei, GLsizei, GLenum, GLenum, const void*);

int logFd() {
    const char* fd = std::getenv("JULIA_GL_SPY_FD");
    return fd != nullptr ? std::atoi(fd) : -1;
}

}  // namespace

extern "C" void glDrawPixels(GLsizei width, GLsizei height, GLenum format, GLenum type,
                             const void* pixels) {
    static const DrawPixels real = reinterpret_cast<DrawPixels>(dlsym(RTLD_NEXT, "glDrawPixels"));
    static const int fd = logFd();
    static const bool alter = std::getenv("JULIA_GL_SPY_ALTER_BYTES") != nullptr;
    if (fd >= 0) {
        char line[80];
        const int n = std::snprintf(line, sizeof line, "%d %d 0x%x 0x%x\n", width, height,
                                    format, type);
        [[maybe_unused]] const ssize_t written = write(fd, line, n);
    }
    if (alter && format == GL_RGBA && type == GL_UNSIGNED_BYTE && width > 0 && height > 0 &&
        pixels != nullptr) {
        const size_t n = 4 * static_cast<size_t>(width) * height;
        std::vector<unsigned char> changed(static_cast<const unsigned char*>(pixels),
                                           static_cast<const unsigned char*>(pixels) + n);
        changed[0] ^= 1;
        real(width, height, format, type, changed.data());
        return;
    }
    real(width, height, format, type, pixels);
}
