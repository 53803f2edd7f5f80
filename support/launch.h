#pragma once

// Starting a menu entry's assignment (its FileName): a program, a Control
// Panel applet, a document or a web address, through the shell.
//
// Deciding what to start is kept apart from the shell: planLaunch takes the
// shell's answers through ShellQueries, so the rules can be tested, and
// fuzzed, without starting anything.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace support {

// The assignment and the working buffers (program, parameters) hold this
// many units, the terminator included.
inline constexpr size_t LaunchBufferUnits = 260;

enum class LaunchRule {
    NoAssignment, // a null pointer: nothing to start
    EmptyAssignment, // an empty text: nothing to start
    ExistingFile, // rule A: a file of that name exists
    AssociatedFile, // rule B: the shell knows a program for it
    Program, // rule C: the text holds ".exe" and is split into program and parameters
    WebBrowser, // rule D: anything else goes to the web browser as its parameter
    Refused, // the text cannot be started safely; nothing is started
};

enum class Refusal {
    None,
    NotTerminated, // no terminator within the 260 units of the assignment
    UnclosedQuote, // rule C: a quoted program without its closing quote
    AppletPathTooLong, // rule A: a quoted applet path does not fit the parameter buffer
    ProgramPathTooLong, // rule A: the Control Panel's path does not fit the program buffer
};

struct LaunchPlan {
    LaunchRule rule { LaunchRule::NoAssignment };
    std::u16string program;
    std::u16string parameters;
    Refusal refusal { Refusal::None };

    bool startsSomething() const
    {
        return rule != LaunchRule::NoAssignment && rule != LaunchRule::EmptyAssignment && rule != LaunchRule::Refused;
    }
};

// What the rules ask of the shell. Each question is asked only when the
// rules before it did not match.
class ShellQueries {
public:
    virtual ~ShellQueries() = default;
    // Rule A: whether a file of that name exists.
    virtual bool fileExists(std::u16string_view name) const = 0;
    // Rule B: whether the shell associates a program with it.
    virtual bool hasAssociatedProgram(std::u16string_view name) const = 0;
    // Rule A for applets: the Windows folder, read afresh.
    virtual std::u16string windowsDirectory() const = 0;
    // Rule D: the program associated with the blank page in the application
    // folder; empty when there is none.
    virtual std::u16string webBrowser() const = 0;
};

// Decides what to start for an assignment handed over as a pointer to at
// most 260 units. Never reads past the 260th unit nor past the terminator.
LaunchPlan planLaunch(const char16_t* assignment, const ShellQueries& shell);

// The shell's answers on this machine.
class PlatformShellQueries final : public ShellQueries {
public:
    bool fileExists(std::u16string_view name) const override;
    bool hasAssociatedProgram(std::u16string_view name) const override;
    std::u16string windowsDirectory() const override;
    std::u16string webBrowser() const override;
};

// Starts an assignment: 0 when the shell started it or there was nothing to
// start, -1 when the shell failed or the assignment was refused.
int32_t TavioUtilShellExecute(const char16_t* assignment);

} // namespace support
