#include "cli.h"

#include <cstdio>
#include <cstring>

#include "gpu_renderer.h"

namespace {

const char USAGE[] =
    "usage: julia-fractals [GLUT options]\n"
    "       julia-fractals --help|--version\n"
    "\n"
    "Shows the Julia set of z <- z^2 + c in a 1024x768 window, computed afresh every frame.\n"
    "The title names the renderer and its frame rate.\n"
    "\n"
    "Controls:\n"
    "  mouse button      press, release or drag: the seed c becomes the point under the\n"
    "                    pointer (the magenta marker)\n"
    "  wheel up / down   iteration limit +1 / -1 per button event GLUT reports (one wheel\n"
    "                    step is a press and a release: +2 / -2)\n"
    "  1 or arrow up     CPU mode: the plain loop on one thread\n"
    "  2 or arrow down   GPU mode: the CUDA kernel; without a usable GPU an ERROR line says\n"
    "                    why and the renderer that was running stays\n"
    "  3                 SIMD mode: vector lanes on every core (OMP_NUM_THREADS limits the\n"
    "                    threads)\n"
    "  ESC               quit\n"
    "All modes show the same image, bit for bit.\n"
    "\n"
    "Options:\n"
    "  --help     this text\n"
    "  --version  the version\n"
    "Every other argument goes to GLUT unchanged, e.g. -display DISPLAY or\n"
    "-geometry WxH+X+Y.\n"
    "\n"
    "Exit status: 0 after ESC, --help or --version; 1 when GLUT cannot start (no display,\n"
    "a bad GLUT option) or its main loop returns.\n";

const char NO_GPU[] =
    "This build has no GPU mode: it was made without the CUDA toolkit.\n";

// GLUT's options that take a value: that value is never read as one of ours.
bool takesValue(const char* arg) {
    return std::strcmp(arg, "-display") == 0 || std::strcmp(arg, "-geometry") == 0;
}

// A full pipe or disk is an error, not a success.
int print(const char* text) {
    if (std::fputs(text, stdout) < 0 || std::fflush(stdout) != 0) {
        std::perror("julia-fractals: cannot write to standard output");
        return 1;
    }
    return 0;
}

}  // namespace

int answerOwnOptions(int argc, char** argv) {
    bool help = false, version = false;
    for (int i = 1; i < argc; i++) {
        if (takesValue(argv[i])) {
            i++;
        } else if (std::strcmp(argv[i], "--help") == 0) {
            help = true;
        } else if (std::strcmp(argv[i], "--version") == 0) {
            version = true;
        }
    }
    if (help) {
        const int status = print(USAGE);
        return status != 0 || gpuRendererBuilt() ? status : print(NO_GPU);
    }
    if (version) return print("julia-fractals " JULIA_VERSION "\n");
    return -1;
}
