// The float or the 8-bit draw of the host image, and the check that lets the 8-bit one run: a
// calibration image drawn both ways into the back buffer and read back before the first frame.
#include "draw.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <new>
#include <vector>

#include <GL/freeglut.h>

#include "byte_image.h"
#include "geometry.h"

namespace {

DrawFormat requested = DrawFormat::Float;
bool checked = false;
ByteRule rule = ByteRule::HalfEven;
std::unique_ptr<uint8_t[]> bytes;  // the 8-bit image; null while the floats are drawn

// A notice about what the command line asked for, on stderr, one line.
void notice(const char* text) {
    std::fprintf(stderr, "julia-fractals: %s\n", text);
    std::fflush(stderr);
}

// The bottom `rows` rows of the back buffer as RGBA bytes, as GL converts what it holds.
std::vector<uint8_t> readBack(int rows) {
    std::vector<uint8_t> out(4 * static_cast<size_t>(WIDTH) * rows);
    glReadPixels(0, 0, WIDTH, rows, GL_RGBA, GL_UNSIGNED_BYTE, out.data());
    return out;
}

// The rule by which this GL shows floats as bytes, where one of ours matches it exactly and its
// own bytes show unchanged; false otherwise. The frame drawn next covers the calibration.
bool calibrate(ByteRule* found) {
    const std::vector<float4> image = calibrationImage(WIDTH);
    const int rows = static_cast<int>(image.size() / WIDTH);
    glDrawPixels(WIDTH, rows, GL_RGBA, GL_FLOAT, image.data());
    if (!chooseByteRule(image, readBack(rows), found)) {
        notice("--draw=8bit: this OpenGL rounds floats to bytes by none of the known rules; "
               "drawing floats");
        return false;
    }
    std::vector<uint8_t> own(4 * image.size());
    imageToBytes(*found, image.data(), own.data(), image.size());
    glDrawPixels(WIDTH, rows, GL_RGBA, GL_UNSIGNED_BYTE, own.data());
    if (!sameColours(own, readBack(rows))) {
        notice("--draw=8bit: this OpenGL does not show 8-bit pixels unchanged; drawing floats");
        return false;
    }
    return true;
}

// Only a framebuffer of 8 bits per colour shows a byte image as the floats would show.
void setUpByteDraw() {
    GLint red = 0, green = 0, blue = 0;
    glGetIntegerv(GL_RED_BITS, &red);
    glGetIntegerv(GL_GREEN_BITS, &green);
    glGetIntegerv(GL_BLUE_BITS, &blue);
    if (red != 8 || green != 8 || blue != 8) {
        char text[160];
        std::snprintf(text, sizeof text,
                      "--draw=8bit: the window has %d/%d/%d bits per colour, not 8; drawing floats",
                      red, green, blue);
        notice(text);
        return;
    }
    ByteRule found;
    if (!calibrate(&found)) return;
    bytes.reset(new (std::nothrow) uint8_t[4 * static_cast<size_t>(PIXEL_COUNT)]);
    if (!bytes) {
        notice("--draw=8bit: no memory for the 8-bit image; drawing floats");
        return;
    }
    rule = found;
}

}  // namespace

void requestDraw(DrawFormat format) {
    requested = format;
}

void drawHostImage(const float4* h_pixels) {
    if (requested == DrawFormat::Bytes && !checked) {
        checked = true;
        setUpByteDraw();
    }
    if (h_pixels == nullptr) return;
    if (!bytes) {
        glDrawPixels(WIDTH, HEIGHT, GL_RGBA, GL_FLOAT, h_pixels);
        return;
    }
    imageToBytes(rule, h_pixels, bytes.get(), PIXEL_COUNT);
    glDrawPixels(WIDTH, HEIGHT, GL_RGBA, GL_UNSIGNED_BYTE, bytes.get());
}
