// The kernel's device arithmetic, read from the PTX that the build's own flags produce: every float
// product, sum and difference is a separately rounded .rn instruction, the one division and the
// one square root are the correctly rounded ones, and nothing is fused, approximate or flushed.
// (Machine code is the wrong place to look: the correctly rounded division and square root are
// themselves built from FFMA.)
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
    std::string text;    // the whole instruction, trimmed
    std::string opcode;  // e.g. "mul.rn.f32"
};

std::vector<Instruction> readPtx(const std::string& path) {
    std::ifstream in(path);
    std::vector<Instruction> out;
    std::string s;
    for (int n = 1; std::getline(in, s); n++) {
        const auto first = s.find_first_not_of(" \t");
        if (first == std::string::npos) continue;
        s = s.substr(first);
        if (s[0] == '.' || s[0] == '/' || s[0] == '$' || s[0] == '{' || s[0] == '}')
            continue;  // directives, comments, labels, braces
        std::istringstream words(s);
        std::string opcode;
        words >> opcode;
        if (opcode[0] == '@') words >> opcode;  // a guarded instruction: skip its predicate
        out.push_back({n, s, opcode});
    }
    return out;
}

std::string listing(const std::vector<Instruction>& v) {
    std::ostringstream os;
    for (const auto& ins : v) os << "\n  line " << ins.line << ": " << ins.text;
    return os.str();
}

class DeviceArithmetic : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ptx = new std::vector<Instruction>(readPtx(PTX_FILE)); }
    static void TearDownTestSuite() { delete ptx; }

    // The instructions whose opcode matches `re`.
    static std::vector<Instruction> matching(const char* re) {
        const std::regex r(re);
        std::vector<Instruction> out;
        for (const auto& ins : *ptx)
            if (std::regex_search(ins.opcode, r)) out.push_back(ins);
        return out;
    }

    static std::vector<Instruction>* ptx;
};
std::vector<Instruction>* DeviceArithmetic::ptx = nullptr;

TEST_F(DeviceArithmetic, PtxHoldsTheKernel) {
    ASSERT_FALSE(ptx->empty()) << "no instructions in " << PTX_FILE;
    std::ifstream in(PTX_FILE);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("juliaColorGPU"), std::string::npos);
    EXPECT_FALSE(matching(R"(^mul\.rn\.f32$)").empty());
    EXPECT_FALSE(matching(R"(^add\.rn\.f32$)").empty());
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

TEST_F(DeviceArithmetic, OneCorrectlyRoundedDivisionAndSquareRoot) {
    const auto divs = matching(R"(^div\.([a-z]+\.)*f(32|64)$)");
    ASSERT_EQ(divs.size(), 1u) << listing(divs);
    EXPECT_EQ(divs[0].opcode, "div.rn.f32");
    const auto roots = matching(R"(^sqrt\.([a-z]+\.)*f(32|64)$)");
    ASSERT_EQ(roots.size(), 1u) << listing(roots);
    EXPECT_EQ(roots[0].opcode, "sqrt.rn.f32");
}

}  // namespace
