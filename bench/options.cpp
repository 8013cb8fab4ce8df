// The command line on CLI11: each value checked as it is read, the refusals worded for a user.
#include "options.h"

#include <cctype>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <utility>

#include <CLI/CLI.hpp>
#include <fmt/format.h>

#include "image_io.h"

namespace {

// Checks a value of option --`opt` and stores it; returns what is wrong with it, or nothing.
using Setter = std::function<std::string(const std::string& opt, const std::string& value)>;

// "--name VALUE" or "--name=VALUE", checked on each occurrence in order (so that a later one cannot
// hide a bad earlier one); the last one counts.
void addValue(CLI::App& app, const std::string& name, const Setter& set) {
    app.add_option_function<std::string>("--" + name, [name, set](const std::string& value) {
           const std::string why = set(name, value);
           if (!why.empty()) throw CLI::ValidationError(why);
       })->trigger_on_parse();
}

// Decimal digits with an optional '-', within [lo, hi]: no blanks, no base prefixes.
Setter wholeNumber(long long lo, long long hi, int* out) {
    return [=](const std::string& opt, const std::string& v) -> std::string {
        long long n = 0;
        const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), n);
        if (v.empty() || end != v.data() + v.size() || ec == std::errc::invalid_argument) {
            return fmt::format("option --{}: '{}' is not a whole number", opt, v);
        }
        if (ec == std::errc::result_out_of_range || n < lo || n > hi) {
            return fmt::format("option --{}: {} is out of range ({} to {})", opt, v, lo, hi);
        }
        *out = static_cast<int>(n);
        return "";
    };
}

// A whole-string float: hexadecimal forms and subnormals are exact; a non-finite result (overflow,
// "inf", "nan") is refused.
bool parseFloat(const std::string& s, float* out) {
    if (s.empty() || std::isspace(static_cast<unsigned char>(s[0]))) return false;
    char* end = nullptr;
    const float v = std::strtof(s.c_str(), &end);
    if (*end != '\0' || !std::isfinite(v)) return false;
    *out = v;
    return true;
}

Setter seed(BenchOptions& o) {
    return [&o](const std::string& opt, const std::string& v) -> std::string {
        const size_t comma = v.find(',');
        if (comma != std::string::npos && v.find(',', comma + 1) == std::string::npos &&
            parseFloat(v.substr(0, comma), &o.mx) && parseFloat(v.substr(comma + 1), &o.my)) {
            return "";
        }
        return fmt::format("option --{}: '{}' is not MX,MY (two finite numbers)", opt, v);
    };
}

// A name stored as given and refused only when empty: which targets exist depends on the CPU.
Setter name(const char* what, std::string* out) {
    return [=](const std::string& opt, const std::string& v) {
        *out = v;
        return v.empty() ? fmt::format("option --{} needs {}", opt, what) : "";
    };
}

Setter renderer(Renderer* out) {
    return [out](const std::string& opt, const std::string& v) -> std::string {
        for (const Renderer r : RENDERER_CHOICES) {
            if (v == rendererName(r)) {
                *out = r;
                return "";
            }
        }
        return fmt::format("option --{}: unknown renderer '{}' (cpu, simd, gpu or all)", opt, v);
    };
}

void addRunOptions(CLI::App& app, BenchOptions& o) {
    app.add_flag("--version", o.version);
    app.add_flag("--verify", o.verify);
    app.add_flag("--periodicity", o.periodicity);
    app.add_flag("--json", o.json);
    addValue(app, "renderer", renderer(&o.renderer));
    addValue(app, "seed", seed(o));
    // Any int is a valid limit: zero and below give a frame without iterations.
    addValue(app, "precision", wholeNumber(INT_MIN, INT_MAX, &o.precision));
    addValue(app, "frames", wholeNumber(1, 1000000, &o.frames));
    addValue(app, "warmup", wholeNumber(0, 1000000, &o.warmup));
    addValue(app, "threads", wholeNumber(1, 1024, &o.threads));
    addValue(app, "simd-target", name("a target name", &o.simdTarget));
    addValue(app, "raw", name("a file name", &o.rawPath));
    addValue(app, "png", name("a file name", &o.pngPath));
}

// The subcommands, each with -h; the run's options do not go with them.
void addSubcommands(CLI::App& app, BenchOptions& o) {
    const std::pair<const char*, Command> subcommands[] = {
        {"floors", Command::Floors}, {"refill", Command::Refill}, {"gpu-info", Command::GpuInfo}};
    for (const auto& s : subcommands) {
        CLI::App* sub = app.add_subcommand(s.first);
        sub->set_help_flag();
        sub->add_flag("-h,--help", o.help);
        const Command command = s.second;
        sub->preparse_callback([&o, command](size_t) {
            o.command = command;
            if (command == Command::Refill) o.mx = -0.8f, o.my = 0.156f, o.frames = 7;
        });
        if (command == Command::Refill) {
            addValue(*sub, "seed", seed(o));
            addValue(*sub, "frames", wholeNumber(1, 1000000, &o.frames));
        }
        for (CLI::Option* opt : app.get_options()) {
            if (!opt->check_lname("help")) sub->excludes(opt);
        }
    }
}

}  // namespace

ParseResult parseOptions(const std::vector<std::string>& args) {
    ParseResult result;
    BenchOptions& o = result.options;
    CLI::App app;
    app.allow_extras();  // to name the first of them below
    app.set_help_flag();
    app.add_flag("-h,--help", o.help);
    addRunOptions(app, o);
    addSubcommands(app, o);
    // CLI11 takes "--raw=" as "--raw" with its value in the next word, which may be an option, and
    // "--verify=true" as "--verify": a flag takes no value.
    for (const std::string& word : args) {
        const std::string name = word.substr(0, word.find('='));
        if (name == word || name.size() < 3 || name.rfind("--", 0) != 0) continue;
        const CLI::Option* opt = app.get_option_no_throw(name);
        if (opt != nullptr && opt->get_expected_max() == 0) {  // a flag
            result.error = "option " + name + " takes no value";
            return result;
        }
        if (word.size() == name.size() + 1) {
            result.error = "option " + name + " needs a value after '='";
            return result;
        }
    }
    try {
        std::vector<std::string> reversed(args.rbegin(), args.rend());  // as CLI11 takes them
        app.parse(reversed);
    } catch (const CLI::ParseError& e) {
        result.error = e.what();
        return result;
    }
    // Left over: the first one is named (CLI11's own message lists them backwards).
    for (const std::string& word : app.remaining(true)) {
        if (word == "--") continue;  // the end of the options, as ever
        const bool option = word.size() > 1 && word[0] == '-';
        result.error = option ? fmt::format("unknown option '{}'", word.substr(0, word.find('=')))
                              : fmt::format("unexpected argument '{}'", word);
        return result;
    }
    if (o.rawPath == STDOUT_PATH && o.pngPath == STDOUT_PATH) {
        result.error = "options --raw and --png cannot both write to standard output ('-')";
    } else if (!o.rawPath.empty() && o.rawPath == o.pngPath) {
        result.error = "options --raw and --png name the same file '" + o.rawPath + "'";
    }
    return result;
}

std::string usageText() {
    return "usage: julia-fractals-bench [--renderer cpu|simd|gpu|all] [--seed MX,MY] [--precision N]\n"
           "                            [--frames N] [--warmup N] [--threads N] [--simd-target NAME]\n"
           "                            [--periodicity] [--verify] [--raw FILE] [--png FILE] [--json]\n"
           "       julia-fractals-bench floors | refill [--seed MX,MY] [--frames N] | gpu-info\n"
           "       julia-fractals-bench -h|--help|--version\n"
           "\n"
           "Times the renderers on the viewer's 1024x768 frame (scale 0.003) and compares them.\n"
           "  --renderer R   cpu (the plain loop, one thread), simd (vector lanes and threads),\n"
           "                 gpu (CUDA) or all (default: cpu, simd on 1 and on every thread, gpu)\n"
           "  --seed MX,MY   the seed c = MX + MY i (default 0,0)\n"
           "  --precision N  the iteration limit (default 10)\n"
           "  --frames N     timed frames per renderer, 1 to 1000000 (default 50)\n"
           "  --warmup N     untimed frames before them, 0 to 1000000 (default 3)\n"
           "  --threads N    simd threads, 1 to 1024 (default: OMP_NUM_THREADS or every one)\n"
           "  --simd-target NAME  the simd renderer's Highway target (default: the best)\n"
           "  --periodicity  every renderer ends a pixel whose orbit repeats exactly: the same\n"
           "                 image in fewer steps where it has an interior; the results add the\n"
           "                 steps taken, and --verify compares with cpu without the check\n"
           "  --verify       compare every renderer with cpu bit for bit instead of timing\n"
           "  --raw FILE     write the frame as raw float RGBA, row 0 (the bottom) first\n"
           "  --png FILE     write the frame as the 8-bit RGB PNG the window shows ('-': standard\n"
           "                 output, the results then going to standard error)\n"
           "  --json         one JSON object per line instead of the table\n"
           "Subcommands: floors, the floors under the renderers' time on this CPU beside the\n"
           "renderers' own figures; refill, the simd renderer's tiles against refill per target\n"
           "and limit (default seed -0.8,0.156, 7 frames); gpu-info, what a GPU run depends on.\n"
           "Exit status: 0 done; 1 renderers differ (--verify), a failed check (floors) or no\n"
           "usable GPU (gpu-info); 2 bad input, or no usable GPU for --renderer gpu.\n"
           "See man julia-fractals-bench.\n";
}
