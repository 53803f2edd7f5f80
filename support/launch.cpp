#include "support/launch.h"

#include "platform/paths.h"
#include "platform/shell.h"
#include "platform/text.h"
#include "support/library_state.h"
#include "support/log.h"

namespace support {

namespace {

// The longest text a 260-unit buffer holds.
constexpr size_t MaxTextUnits = LaunchBufferUnits - 1;

constexpr std::u16string_view ControlPanelSuffix = u"\\System32\\control.exe";
constexpr std::u16string_view BlankPageName = u"\\BlankHtm.htm";

// Whether `pattern` occurs anywhere in `text`, without regard to case.
bool containsIgnoringCase(std::u16string_view text, std::u16string_view pattern)
{
    return platform::text::foldCase(text).find(platform::text::foldCase(pattern)) != std::u16string::npos;
}

const char16_t* reasonOf(Refusal why)
{
    switch (why) {
    case Refusal::NotTerminated:
        return u"not terminated within 260 units";
    case Refusal::UnclosedQuote:
        return u"the quoted program has no closing quote";
    case Refusal::AppletPathTooLong:
        return u"the applet path is too long to quote";
    case Refusal::ProgramPathTooLong:
        return u"the Control Panel path is too long";
    case Refusal::None:
        break;
    }
    return u"";
}

LaunchPlan planOf(LaunchRule rule, std::u16string_view program = {}, std::u16string_view parameters = {})
{
    return { rule, std::u16string(program), std::u16string(parameters), Refusal::None };
}

LaunchPlan refused(Refusal why)
{
    return { LaunchRule::Refused, {}, {}, why };
}

// Rule C: "program args" or "\"quoted program\" args".
LaunchPlan splitProgram(std::u16string_view text)
{
    LaunchPlan plan = planOf(LaunchRule::Program);
    if (text.starts_with(u'"')) {
        size_t closing = text.find(u'"', 1);
        if (closing == std::u16string_view::npos)
            return refused(Refusal::UnclosedQuote);
        plan.program = text.substr(0, closing + 1);
        // The character after the closing quote, normally a blank, is dropped.
        if (closing + 1 < text.size())
            plan.parameters = text.substr(closing + 2);
        return plan;
    }
    size_t blank = text.find(u' ');
    plan.program = text.substr(0, blank);
    if (blank != std::u16string_view::npos)
        plan.parameters = text.substr(blank);
    return plan;
}

} // namespace

LaunchPlan planLaunch(const char16_t* assignment, const ShellQueries& shell)
{
    if (!assignment)
        return planOf(LaunchRule::NoAssignment);
    size_t length = platform::text::boundedLength(assignment, LaunchBufferUnits);
    if (length == LaunchBufferUnits)
        return refused(Refusal::NotTerminated);
    if (length == 0)
        return planOf(LaunchRule::EmptyAssignment);
    const std::u16string_view text(assignment, length);

    if (shell.fileExists(text)) {
        LaunchPlan plan = planOf(LaunchRule::ExistingFile);
        if (!containsIgnoringCase(text, u".cpl")) {
            plan.program = text;
            return plan;
        }
        // An applet is opened by the Control Panel, its path quoted.
        plan.program = shell.windowsDirectory() + std::u16string(ControlPanelSuffix);
        if (plan.program.size() > MaxTextUnits)
            return refused(Refusal::ProgramPathTooLong);
        if (text.size() + 2 > MaxTextUnits)
            return refused(Refusal::AppletPathTooLong);
        plan.parameters = u"\"" + std::u16string(text) + u"\"";
        return plan;
    }
    if (shell.hasAssociatedProgram(text))
        return planOf(LaunchRule::AssociatedFile, text);
    if (containsIgnoringCase(text, u".exe"))
        return splitProgram(text);

    LaunchPlan plan = planOf(LaunchRule::WebBrowser, shell.webBrowser(), text);
    // A browser path the program buffer cannot hold is no browser: the
    // shell then fails on the empty program.
    if (plan.program.size() > MaxTextUnits)
        plan.program.clear();
    return plan;
}

bool PlatformShellQueries::fileExists(std::u16string_view name) const
{
    return platform::shell::findFile(name).ok();
}

bool PlatformShellQueries::hasAssociatedProgram(std::u16string_view name) const
{
    auto program = platform::shell::findExecutable(name);
    return program.ok() && !program->empty();
}

std::u16string PlatformShellQueries::windowsDirectory() const
{
    return platform::paths::windowsDirectory();
}

std::u16string PlatformShellQueries::webBrowser() const
{
    const std::u16string blankPage = std::u16string(platform::text::view(AppPath)) + std::u16string(BlankPageName);
    return platform::shell::findExecutable(blankPage).valueOr(std::u16string());
}

int32_t TavioUtilShellExecute(const char16_t* assignment)
{
    logTrace(u"Enter TavioUtilShellExecute\n");
    const LaunchPlan plan = planLaunch(assignment, PlatformShellQueries());
    switch (plan.rule) {
    case LaunchRule::NoAssignment:
        logTrace(u"Exit TavioUtilShellExecute.  assigment is NULL\n");
        return 0;
    case LaunchRule::EmptyAssignment:
        logTrace(u"Exit TavioUtilShellExecute.  assigment field is empty\n");
        return 0;
    case LaunchRule::Refused:
        logError(u"TAVIOSUPPORT: ERROR: TavioUtilShellExecute: assignment refused: %s\n", reasonOf(plan.refusal));
        return -1;
    default:
        break;
    }
    platform::shell::ExecuteRequest request;
    request.verb = u"open";
    request.file = plan.program;
    request.parameters = plan.parameters;
    request.show = platform::process::Show::Normal;
    const auto launch = platform::shell::execute(request);
    logTrace(u"Exit TavioUtilShellExecute\n");
    return launch.started() ? 0 : -1;
}

} // namespace support
