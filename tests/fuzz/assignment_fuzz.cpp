// Fuzzes the choice of launching rule and the split of an assignment into
// program and parameters (support::planLaunch), with the shell's answers
// taken from the input as well.
//
// Input: one byte of shell answers (bit 0: a file of that name exists, bit 1:
// the shell associates a program with it, bit 2: no web browser is found),
// then the assignment's UTF-16 units, little-endian. The units are placed in
// a buffer of exactly 260 units, filled up with 'x' when the input is shorter,
// so a read past the buffer shows under the address sanitizer and an input
// without a zero unit tests the missing terminator.
//
// Built with libFuzzer when the compiler is clang; otherwise a driver main
// runs a fixed corpus and a bounded number of pseudo-random inputs.

#include "support/launch.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

namespace {

class InputShell final : public support::ShellQueries {
public:
    explicit InputShell(uint8_t answers)
        : m_answers(answers)
    { }
    bool fileExists(std::u16string_view) const override { return m_answers & 1; }
    bool hasAssociatedProgram(std::u16string_view) const override { return m_answers & 2; }
    std::u16string windowsDirectory() const override { return u"C:\\WINDOWS"; }
    std::u16string webBrowser() const override
    {
        return m_answers & 4 ? std::u16string() : u"C:\\WINDOWS\\System32\\webbrowser.exe";
    }

private:
    uint8_t m_answers;
};

void check(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "assignment_fuzz: %s\n", what);
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const InputShell shell(data[0]);
    constexpr size_t Units = support::LaunchBufferUnits;
    auto buffer = std::make_unique<char16_t[]>(Units);
    std::fill_n(buffer.get(), Units, u'x');
    const size_t given = std::min((size - 1) / 2, Units);
    for (size_t i = 0; i < given; ++i)
        buffer[i] = static_cast<char16_t>(data[1 + 2 * i] | (data[2 + 2 * i] << 8));

    const support::LaunchPlan plan = support::planLaunch(buffer.get(), shell);
    const std::u16string_view whole(buffer.get(), std::find(buffer.get(), buffer.get() + Units, u'\0') - buffer.get());

    // Whatever is started fits the 260-unit buffers of the program and its
    // parameters; nothing is started for a refused or empty assignment.
    check(plan.program.size() < Units, "program does not fit its buffer");
    check(plan.parameters.size() < Units, "parameters do not fit their buffer");
    check(plan.startsSomething() || (plan.program.empty() && plan.parameters.empty()),
        "a plan that starts nothing carries a program");
    check((plan.rule == support::LaunchRule::Refused) == (plan.refusal != support::Refusal::None),
        "refusal reason and rule disagree");
    check((whole.size() == Units) == (plan.refusal == support::Refusal::NotTerminated),
        "an unterminated assignment is not refused, or a terminated one is");

    switch (plan.rule) {
    case support::LaunchRule::Program: {
        // The split loses at most the one separator after a closing quote.
        check(whole.starts_with(plan.program), "program is not the start of the assignment");
        check(whole.ends_with(plan.parameters), "parameters are not the end of the assignment");
        const size_t dropped = whole.size() - plan.program.size() - plan.parameters.size();
        check(dropped == (whole.starts_with(u'"') && plan.program.size() < whole.size() ? 1u : 0u),
            "the split dropped the wrong number of units");
        break;
    }
    case support::LaunchRule::WebBrowser:
    case support::LaunchRule::AssociatedFile:
        check(plan.parameters == whole || plan.program == whole, "the assignment did not reach the shell whole");
        break;
    default:
        break;
    }
    return 0;
}

#ifndef TAVIO_FUZZ_WITH_LIBFUZZER

namespace {

// Inputs every run covers: the documented examples and the malformed texts.
std::string inputOf(uint8_t answers, std::u16string_view text)
{
    std::string input(1, static_cast<char>(answers));
    for (char16_t unit : text) {
        input += static_cast<char>(unit & 0xFF);
        input += static_cast<char>(unit >> 8);
    }
    input.append(2, '\0');
    return input;
}

void run(const std::string& input)
{
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(input.data()), input.size());
}

} // namespace

int main(int argc, char** argv)
{
    const std::u16string_view corpus[] {
        u"",
        u" ",
        u"C:\\WINDOWS\\System32\\powercfg.cpl",
        u"C:\\WINDOWS\\SYSTEM32\\TABLETPC.CPL",
        u"\"C:\\Program Files\\Tool\\tool.exe\" -x",
        u"\"C:\\Program Files\\Tool\\tool.exe\"",
        u"\"C:\\Program Files\\Tool\\tool.exe",
        u"\"\"",
        u"\"",
        u"\".exe",
        u"\".exe\"x",
        u"C:\\Tool\\tool.exe -x",
        u" tool.exe",
        u"http://www.example.com/",
    };
    for (uint8_t answers = 0; answers < 8; ++answers) {
        for (std::u16string_view text : corpus)
            run(inputOf(answers, text));
        // The longest texts and the unterminated one.
        for (size_t length : { 257u, 258u, 259u, 260u, 300u }) {
            std::u16string text = u"C:\\" + std::u16string(length - 7, u'a') + u".cpl";
            run(inputOf(answers, text).substr(0, 1 + 2 * std::min<size_t>(length, 260)));
        }
    }

    // Pseudo-random texts over the units the rules look at, with a fixed
    // seed so that a failure repeats.
    const long count = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 20000;
    constexpr char16_t Alphabet[] = { u'"', u' ', u'.', u'e', u'x', u'E', u'X', u'c', u'p', u'l', u'C', u'\\', u'a',
        u'\0', u':', u'/', 0x00E9, 0xD800, 0xFFFF };
    uint64_t state = 0x2545F4914F6CDD1Dull;
    auto next = [&state] {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    };
    for (long i = 0; i < count; ++i) {
        const size_t length = next() % 300;
        std::string input(1, static_cast<char>(next() & 7));
        for (size_t unit = 0; unit < length; ++unit) {
            const char16_t value = Alphabet[next() % (sizeof(Alphabet) / sizeof(Alphabet[0]))];
            input += static_cast<char>(value & 0xFF);
            input += static_cast<char>(value >> 8);
        }
        run(input);
    }
    std::printf("assignment_fuzz: %ld random inputs and the corpus passed\n", count);
    return 0;
}

#endif
