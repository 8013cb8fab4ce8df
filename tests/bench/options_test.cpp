// The command line and its subcommands: every accepted form yields the intended options, every
// refused one a single line naming the problem.
#include <gtest/gtest.h>

#include "options.h"

namespace {

ParseResult parse(std::vector<std::string> args) { return parseOptions(args); }

TEST(Options, DefaultsAreTheViewersInitialState) {
    const ParseResult r = parse({});
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(r.options.command, Command::Run);
    EXPECT_EQ(r.options.renderer, Renderer::All);
    EXPECT_EQ(r.options.mx, 0.0f);
    EXPECT_EQ(r.options.my, 0.0f);
    EXPECT_EQ(r.options.precision, 10);
    EXPECT_EQ(r.options.frames, 50);
    EXPECT_EQ(r.options.warmup, 3);
    EXPECT_EQ(r.options.threads, 0);
    EXPECT_TRUE(r.options.simdTarget.empty());
    EXPECT_FALSE(r.options.verify || r.options.json || r.options.help || r.options.version ||
                 r.options.periodicity);
    EXPECT_TRUE(r.options.rawPath.empty() && r.options.pngPath.empty());
}

TEST(Options, BothValueFormsIncludingValuesThatLookLikeOptions) {
    struct Case {
        std::vector<std::string> args;
        float mx, my;
        int precision, frames, warmup;
        Command command = Command::Run;
    };
    const Case cases[] = {
        {{"--seed", "-0.8,0.156"}, -0.8f, 0.156f, 10, 50, 3},
        {{"--seed=-0.8,-0.156"}, -0.8f, -0.156f, 10, 50, 3},
        {{"--seed", "0x1p-2,1e-45"}, 0.25f, 1e-45f, 10, 50, 3},  // hex and subnormal are exact floats
        {{"--precision", "-5", "--frames=1", "--warmup", "0"}, 0, 0, -5, 1, 0},
        {{"--precision=2147483647", "--frames", "1000000", "--warmup=1000000"}, 0, 0, 2147483647,
         1000000, 1000000},
        {{"--frames", "7", "--frames=9"}, 0, 0, 10, 9, 3},  // the last one counts
        {{"--frames", "010", "--"}, 0, 0, 10, 10, 3},      // decimal, not octal; "--" ends options
        {{"floors"}, 0, 0, 10, 50, 3, Command::Floors},
        {{"gpu-info"}, 0, 0, 10, 50, 3, Command::GpuInfo},
        {{"refill"}, -0.8f, 0.156f, 10, 7, 3, Command::Refill},  // its own defaults
        {{"refill", "--seed", "-0.5,0.25", "--frames=3"}, -0.5f, 0.25f, 10, 3, 3, Command::Refill},
    };
    for (const Case& c : cases) {
        const ParseResult r = parse(c.args);
        ASSERT_TRUE(r.ok()) << c.args[0] << ": " << r.error;
        EXPECT_EQ(r.options.mx, c.mx) << c.args[0];
        EXPECT_EQ(r.options.my, c.my) << c.args[0];
        EXPECT_EQ(r.options.precision, c.precision) << c.args[0];
        EXPECT_EQ(r.options.frames, c.frames) << c.args[0];
        EXPECT_EQ(r.options.warmup, c.warmup) << c.args[0];
        EXPECT_EQ(r.options.command, c.command) << c.args[0];
    }
}

TEST(Options, RendererFlagsAndFiles) {
    ParseResult r = parse({"--renderer", "cpu", "--verify", "--json", "--raw", "-out.raw",
                           "--png=pic.png", "--periodicity"});
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(r.options.renderer, Renderer::Cpu);
    EXPECT_TRUE(r.options.verify && r.options.json && r.options.periodicity);
    EXPECT_EQ(r.options.rawPath, "-out.raw");
    EXPECT_EQ(r.options.pngPath, "pic.png");
    EXPECT_EQ(parse({"--renderer=gpu"}).options.renderer, Renderer::Gpu);
    EXPECT_TRUE(parse({"--help"}).options.help);
    EXPECT_TRUE(parse({"-h"}).options.help);
    EXPECT_TRUE(parse({"--version"}).options.version);
    EXPECT_TRUE(parse({"floors", "-h"}).options.help);
    EXPECT_TRUE(parse({"--help", "gpu-info"}).options.help);

    r = parse({"--renderer", "simd", "--threads", "1024", "--simd-target=AVX2", "--png", "-",
               "--raw", "f.raw"});
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(r.options.renderer, Renderer::Simd);
    EXPECT_EQ(r.options.threads, 1024);
    EXPECT_EQ(r.options.simdTarget, "AVX2") << "as given: findSimdTarget takes any letter case";
    EXPECT_EQ(r.options.pngPath, "-");
    EXPECT_EQ(parse({"--threads=1"}).options.threads, 1);
}

TEST(Options, RefusedWithOneLineNamingTheProblem) {
    struct Case {
        std::vector<std::string> args;
        const char* says;
    };
    const Case cases[] = {
        {{"--bogus"}, "unknown option '--bogus'"},
        {{"--frame", "5"}, "unknown option '--frame'"},
        {{"-v"}, "unknown option '-v'"},
        {{"-hv"}, "unknown option '-v'"},
        {{"-"}, "unexpected argument '-'"},
        {{"--fram=5"}, "unknown option '--fram'"},  // no abbreviations
        {{"--help=yes"}, "option --help takes no value"},
        {{"extra"}, "unexpected argument 'extra'"},
        {{"--", "x"}, "unexpected argument 'x'"},
        {{"--seed"}, "--seed: 1 required"},
        {{"--frames", "5", "--warmup"}, "--warmup: 1 required"},
        {{"--verify=no"}, "option --verify takes no value"},
        {{"--json=true"}, "option --json takes no value"},  // CLI11 alone takes it as --json
        {{"--periodicity=false"}, "option --periodicity takes no value"},
        {{"--periodicity", "floors"}, "floors excludes --periodicity"},
        {{"refill", "--periodicity"}, "unknown option '--periodicity'"},
        {{"--frames="}, "option --frames needs a value after '='"},
        {{"--raw=", "--verify"}, "option --raw needs a value after '='"},  // not a file "--verify"
        {{"--frames", "abc", "--frames", "5"}, "'abc' is not a whole number"},
        {{"--frames", "0x10"}, "'0x10' is not a whole number"},
        {{"--frames", "abc"}, "'abc' is not a whole number"},
        {{"--frames", "2.5"}, "'2.5' is not a whole number"},
        {{"--frames", "5x"}, "'5x' is not a whole number"},
        {{"--frames", " 5"}, "' 5' is not a whole number"},
        {{"--frames", "0"}, "0 is out of range (1 to 1000000)"},
        {{"--frames=1000001"}, "out of range"},
        {{"--frames", "99999999999999999999"}, "out of range"},
        {{"--warmup", "-1"}, "-1 is out of range (0 to 1000000)"},
        {{"--precision", "2147483648"}, "out of range"},
        {{"--precision", "1e3"}, "not a whole number"},
        {{"--renderer", "xpu"}, "unknown renderer 'xpu'"},
        {{"--renderer=CPU"}, "unknown renderer 'CPU'"},
        {{"--seed", "1"}, "'1' is not MX,MY"},
        {{"--seed", "1,2,3"}, "is not MX,MY"},
        {{"--seed", ",1"}, "is not MX,MY"},
        {{"--seed", "1,"}, "is not MX,MY"},
        {{"--seed", "a,b"}, "is not MX,MY"},
        {{"--seed", "nan,0"}, "is not MX,MY"},
        {{"--seed", "0,inf"}, "is not MX,MY"},
        {{"--seed", "1e39,0"}, "is not MX,MY"},  // overflows a float
        {{"--seed", "1 ,0"}, "is not MX,MY"},
        {{"--raw", ""}, "--raw needs a file name"},
        {{"--raw", "a", "--png", "a"}, "name the same file"},
        {{"--raw", "-", "--png=-"}, "cannot both write to standard output"},
        {{"--threads", "0"}, "0 is out of range (1 to 1024)"},
        {{"--threads", "1025"}, "out of range"},
        {{"--threads", "all"}, "'all' is not a whole number"},
        {{"--simd-target", ""}, "--simd-target needs a target name"},
        {{"--renderer", "SIMD"}, "unknown renderer 'SIMD'"},
        {{"floors", "x"}, "unexpected argument 'x'"},
        {{"floors", "--frames", "3"}, "unknown option '--frames'"},
        {{"--frames", "3", "floors"}, "floors excludes --frames"},
        {{"--version", "gpu-info"}, "gpu-info excludes --version"},
        {{"refill", "--precision", "4"}, "unknown option '--precision'"},
        {{"refill", "--frames", "0"}, "0 is out of range (1 to 1000000)"},
        {{"refill", "--seed", "1"}, "'1' is not MX,MY"},
    };
    for (const Case& c : cases) {
        std::string cmd;
        for (const std::string& a : c.args) cmd += a + " ";
        const ParseResult r = parse(c.args);
        ASSERT_FALSE(r.ok()) << cmd;
        EXPECT_NE(r.error.find(c.says), std::string::npos) << cmd << "-> " << r.error;
        EXPECT_EQ(r.error.find('\n'), std::string::npos) << cmd;
    }
}

}  // namespace
