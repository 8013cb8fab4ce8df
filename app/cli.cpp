// The viewer's own options, through CLI11; GLUT's are left in argv for glutInit.
#include "cli.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

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
    "Every other argument goes to GLUT unchanged, e.g. -display DISPLAY.\n"
    "\n"
    "Exit status: 0 after ESC, --help or --version; 1 for a malformed --help or --version\n"
    "(such as --help=x), when GLUT cannot start (no display, a bad GLUT option) or when\n"
    "its main loop returns.\n";

const char NO_GPU[] =
    "This build has no GPU mode: it was made without the CUDA toolkit.\n";

// A full pipe or disk is an error, not a success.
int print(const char* text) {
    if (std::fputs(text, stdout) < 0 || std::fflush(stdout) != 0) {
        std::perror("julia-fractals: cannot write to standard output");
        return 1;
    }
    return 0;
}

// The arguments as the parser sees them: without the values of GLUT's options that take one, so
// that "-display --help" names a display rather than asking for help.
std::vector<std::string> withoutGlutValues(int argc, char** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; i++) {
        args.emplace_back(argv[i]);
        if (args.back() == "-display" || args.back() == "-geometry") i++;
    }
    std::reverse(args.begin(), args.end());  // CLI11 takes them last first
    return args;
}

}  // namespace

int answerOwnOptions(int argc, char** argv) {
    CLI::App app;
    app.set_help_flag();  // ours prints USAGE
    app.allow_extras();   // GLUT's options, which glutInit reads from argv itself
    bool help = false, version = false;
    // "--help=false" would otherwise open the window: a flag takes no value.
    app.add_flag("--help", help)->disable_flag_override();
    app.add_flag("--version", version)->disable_flag_override();
    std::vector<std::string> args = withoutGlutValues(argc, argv);
    try {
        app.parse(args);
    } catch (const CLI::ParseError& e) {
        std::fprintf(stderr, "julia-fractals: %s\n", e.what());
        return 1;
    }
    if (help) {
        const int status = print(USAGE);
        return status != 0 || gpuRendererBuilt() ? status : print(NO_GPU);
    }
    if (version) return print("julia-fractals " JULIA_VERSION "\n");
    return -1;
}
