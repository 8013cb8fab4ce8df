// The kernels' device arithmetic, read from the PTX that the build's own flags produce: every float
// product, sum and difference is a separately rounded .rn instruction, each kernel's one division
// and one square root are the correctly rounded ones, and nothing is fused, approximate or
// flushed. Both kernels must be there, the plain loop and the one with the periodicity check, so
// that neither's coverage can quietly go. (Machine code is the wrong place to look: the correctly
// rounded division and square root are themselves built from FFMA.)
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

struct Instruction {
    int line;
    std::string function;  // the .entry or .func it lies in, by its PTX name
    std::string text;      // the whole instruction, trimmed
    std::string opcode;    // e.g. "mul.rn.f32"
};

// The kernels by their PTX names: both take the same five arguments.
constexpr const char* PLAIN_KERNEL = "_Z13juliaColorGPUP6float4ffif";
constexpr const char* PERIODIC_KERNEL = "_Z21juliaColorGPUPeriodicP6float4ffif";

std::vector<Instruction> readPtx(const std::string& path) {
    std::ifstream in(path);
    std::vector<Instruction> out;
    std::string s, function;
    const std::regex header(R"(\.(entry|func)\b)"), name(R"(([A-Za-z_$][\w$]*)\s*\()");
    for (int n = 1; std::getline(in, s); n++) {
        const auto first = s.find_first_not_of(" \t");
        if (first == std::string::npos) continue;
        s = s.substr(first);
        if (s[0] == '.' && std::regex_search(s, header)) {
            // The name is the last one before a parenthesis: ".func (.param .b32 r) _Z1fv(".
            for (std::sregex_iterator m(s.begin(), s.end(), name), end; m != end; ++m)
                function = (*m)[1];
        }
        if (s[0] == '.' || s[0] == '/' || s[0] == '$' || s[0] == '{' || s[0] == '}')
            continue;  // directives, comments, labels, braces
        std::istringstream words(s);
        std::string opcode;
        words >> opcode;
        if (opcode[0] == '@') words >> opcode;  // a guarded instruction: skip its predicate
        out.push_back({n, function, s, opcode});
    }
    return out;
}

std::string listing(const std::vector<Instruction>& v) {
    std::ostringstream os;
    for (const auto& ins : v)
        os << "\n  line " << ins.line << " (" << ins.function << "): " << ins.text;
    return os.str();
}

class DeviceArithmetic : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ptx = new std::vector<Instruction>(readPtx(PTX_FILE)); }
    static void TearDownTestSuite() { delete ptx; }

    // The instructions whose opcode matches `re`, in `function` only where one is named.
    static std::vector<Instruction> matching(const char* re, const char* function = nullptr) {
        const std::regex r(re);
        std::vector<Instruction> out;
        for (const auto& ins : *ptx)
            if ((!function || ins.function == function) && std::regex_search(ins.opcode, r))
                out.push_back(ins);
        return out;
    }

    static std::vector<Instruction>* ptx;
};
std::vector<Instruction>* DeviceArithmetic::ptx = nullptr;

TEST_F(DeviceArithmetic, PtxHoldsBothKernels) {
    ASSERT_FALSE(ptx->empty()) << "no instructions in " << PTX_FILE;
    for (const char* kernel : {PLAIN_KERNEL, PERIODIC_KERNEL}) {
        SCOPED_TRACE(kernel);
        EXPECT_FALSE(matching(R"(^mul\.rn\.f32$)", kernel).empty());
        EXPECT_FALSE(matching(R"(^add\.rn\.f32$)", kernel).empty());
    }
}

TEST_F(DeviceArithmetic, NoFusedMultiplyAdd) {
    const auto fused = matching(R"(^(fma|mad)(\.[a-z0-9]+)*\.f(16|32|64)$)");
    EXPECT_TRUE(fused.empty()) << "fused float multiply-adds:" << listing(fused);
}

TEST_F(DeviceArithmetic, NoApproximationAndNoFlushToZero) {
    const auto approx = matching(R"(\.(approx|ftz)\b)");
    EXPECT_TRUE(approx.empty()) << "approximate or flushing instructions:" << listing(approx);
    const auto transcendental = matching(R"(^(rcp|rsqrt|ex2|lg2|sin|cos|tanh)\.)");
    EXPECT_TRUE(transcendental.empty()) << "library-style float operations:" << listing(transcendental);
}

TEST_F(DeviceArithmetic, EveryFloatOperationRoundsOnItsOwn) {
    std::vector<Instruction> bad;
    for (const auto& ins : matching(R"(^(mul|add|sub)\.([a-z]+\.)*f32$)"))
        if (ins.opcode.find(".rn.") == std::string::npos) bad.push_back(ins);
    EXPECT_TRUE(bad.empty()) << "float operations the assembler may still contract:" << listing(bad);
}

// The colour's division and the marker's square root, once in each kernel (inlined there, so a
// kernel that lost them, or a call to a shared copy, shows as a count other than one).
TEST_F(DeviceArithmetic, OneCorrectlyRoundedDivisionAndSquareRootPerKernel) {
    for (const char* kernel : {PLAIN_KERNEL, PERIODIC_KERNEL}) {
        SCOPED_TRACE(kernel);
        const auto divs = matching(R"(^div\.([a-z]+\.)*f(32|64)$)", kernel);
        ASSERT_EQ(divs.size(), 1u) << listing(divs);
        EXPECT_EQ(divs[0].opcode, "div.rn.f32");
        const auto roots = matching(R"(^sqrt\.([a-z]+\.)*f(32|64)$)", kernel);
        ASSERT_EQ(roots.size(), 1u) << listing(roots);
        EXPECT_EQ(roots[0].opcode, "sqrt.rn.f32");
    }
    const auto all = matching(R"(^(div|sqrt)\.([a-z]+\.)*f(32|64)$)");
    EXPECT_EQ(all.size(), 4u) << "divisions or roots outside the kernels:" << listing(all);
}

// The check compares iterates as bits (core's rule: -0 is not +0, a NaN matches its own bits), so
// the periodic kernel moves float registers into integer ones (both parts at least), the plain
// kernel never does, and no kernel compares floats for equality. The images cannot tell the
// kernels apart; this can.
TEST_F(DeviceArithmetic, TheCheckIsOnlyInItsKernelAndComparesBits) {
    const auto bits = [](const char* kernel) {
        std::vector<Instruction> out;
        for (const auto& ins : matching(R"(^mov\.b32$)", kernel))
            if (std::regex_search(ins.text, std::regex(R"(%r\d+,\s*%f\d+)"))) out.push_back(ins);
        return out;
    };
    EXPECT_GE(bits(PERIODIC_KERNEL).size(), 2u) << listing(bits(PERIODIC_KERNEL));
    EXPECT_TRUE(bits(PLAIN_KERNEL).empty()) << listing(bits(PLAIN_KERNEL));
    const auto equal = matching(R"(^set(p)?\.(eq|ne|equ|neu)\.f(32|64)$)");
    EXPECT_TRUE(equal.empty()) << "float equality:" << listing(equal);
}

}  // namespace
