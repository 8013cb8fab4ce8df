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
    "usage: julia-fractals [--draw=float|8bit] [--periodicity] [GLUT options]\n"
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
    "  --draw=float|8bit\n"
    "             how each frame reaches the window: float (the default) draws the float\n"
    "             image; 8bit draws it as bytes, rounded as this OpenGL rounds floats (checked\n"
    "             at start; where it cannot be, a line on stderr says so and floats are drawn),\n"
    "             so that the title's frame rate shows the renderer more than the draw\n"
    "  --periodicity\n"
    "             every renderer ends a pixel as soon as its orbit repeats a value exactly:\n"
    "             the picture is the same bit for bit, and frames whose picture has an\n"
    "             interior (seeds such as 0 or -1) are much faster; the title says so\n"
    "Every other argument goes to GLUT unchanged, e.g. -display DISPLAY.\n"
    "\n"
    "Exit status: 0 after ESC, --help or --version; 1 for a malformed --help, --version,\n"
    "--periodicity or --draw (such as --help=x or --draw=16bit), when GLUT cannot start (no\n"
    "display, a bad GLUT option) or when its main loop returns.\n";

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

// A flag of ours ("--help", "--version", "--periodicity") given a value, as in "--help=false";
// empty where none is. CLI11 would take "--help=true" as "--help", and "--help=false" as no
// request at all.
std::string flagGivenAValue(const std::vector<std::string>& args) {
    for (auto a = args.rbegin(); a != args.rend() && *a != "--"; ++a) {  // in the given order
        const std::string name = a->substr(0, a->find('='));
        if (name != *a && (name == "--help" || name == "--version" || name == "--periodicity")) {
            return name;
        }
    }
    return "";
}

}  // namespace

int answerOwnOptions(int argc, char** argv, ViewerOptions* options) {
    CLI::App app;
    app.set_help_flag();  // ours prints USAGE
    app.allow_extras();   // GLUT's options, which glutInit reads from argv itself
    bool help = false, version = false, periodicity = false;
    std::string drawName = "float";
    app.add_flag("--help", help);
    app.add_flag("--version", version);
    app.add_flag("--periodicity", periodicity);
    app.add_option("--draw", drawName)->check(CLI::IsMember({"float", "8bit"}));
    std::vector<std::string> args = withoutGlutValues(argc, argv);
    if (const std::string flag = flagGivenAValue(args); !flag.empty()) {
        std::fprintf(stderr, "julia-fractals: option %s takes no value\n", flag.c_str());
        return 1;
    }
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
    options->draw = drawName == "8bit" ? DrawFormat::Bytes : DrawFormat::Float;
    options->periodicity = periodicity;
    return -1;
}

// The same walk as withoutGlutValues: a GLUT option's value is never taken for ours, and "--" ends
// the options as it does for the parser.
int withoutOwnOptions(int argc, char** argv) {
    int kept = 1;
    bool options = true;
    for (int i = 1; i < argc; i++) {
        const std::string a = argv[i];
        if (options && a == "--draw" && i + 1 < argc) {
            i++;  // and its value
            continue;
        }
        if (options && (a.compare(0, 7, "--draw=") == 0 || a == "--periodicity")) continue;
        if (a == "--") options = false;
        argv[kept++] = argv[i];
        if ((a == "-display" || a == "-geometry") && i + 1 < argc) argv[kept++] = argv[++i];
    }
    argv[kept] = nullptr;
    return kept;
}
