// control.exe, the platform's Control Panel: "control.exe APPLET.cpl[,@N]"
// loads the applet library and opens its applet number N (0 when not
// given), as a double click in the Control Panel folder would.

#include "tools/standins/control_panel.h"

#include "platform/journal.h"
#include "platform/modules.h"
#include "platform/process.h"
#include "platform/text.h"

#include <iostream>
#include <optional>
#include <string>

namespace {

struct AppletRequest {
    std::u16string library;
    int32_t index { 0 };
};

// "C:\x\powercfg.cpl,@1,2" -> the library and applet 1; the page after a
// second comma is for the applet, which the stand-ins do not use.
std::optional<AppletRequest> parseApplet(std::u16string_view argument)
{
    const auto folded = platform::text::foldCase(argument);
    size_t end = std::u16string::npos;
    for (size_t at = folded.find(u".CPL"); at != std::u16string::npos; at = folded.find(u".CPL", at + 1)) {
        const size_t after = at + 4;
        if (after == folded.size() || folded[after] == u',')
            end = after;
    }
    if (end == std::u16string::npos)
        return std::nullopt;
    AppletRequest request { std::u16string(argument.substr(0, end)) };
    const std::u16string_view rest = argument.substr(end);
    if (rest.size() < 2 || rest[1] != u'@')
        return request;
    size_t at = 2;
    int32_t index = 0;
    for (; at < rest.size() && rest[at] != u','; ++at) {
        if (rest[at] < u'0' || rest[at] > u'9' || index > 100000)
            return std::nullopt;
        index = index * 10 + (rest[at] - u'0');
    }
    if (at == 2)
        return std::nullopt;
    request.index = index;
    return request;
}

int failed(const std::string& message, platform::Error error)
{
    platform::journal::record("control.fail", { { "reason", message }, { "error", std::to_string(toCode(error)) } });
    std::cerr << "control.exe: " << message << ": " << platform::describe(error) << '\n';
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::u16string> arguments;
    for (int i = 1; i < argc; ++i)
        arguments.push_back(platform::text::toUtf16(argv[i]));
    if (arguments.empty()) {
        // The Control Panel folder itself: nothing to show on this machine.
        platform::journal::record("control.open", { { "applet", "" } });
        return 0;
    }
    // The applet's text may have been split at blanks when it came unquoted.
    std::u16string joined;
    for (const auto& argument : arguments)
        joined += (joined.empty() ? u"" : u" ") + argument;
    auto request = parseApplet(joined);
    if (!request)
        return failed("not an applet: " + platform::text::toUtf8(joined), platform::Error::InvalidParameter);
    platform::journal::record("control.open",
        { { "applet", platform::text::toUtf8(request->library) }, { "index", std::to_string(request->index) } });

    auto library = platform::modules::Module::load(request->library);
    if (!library)
        return failed("cannot load " + platform::text::toUtf8(request->library), library.error());
    auto entry = library->symbol<standins::CPlAppletFunction>("CPlApplet");
    if (!entry)
        return failed("no CPlApplet in " + platform::text::toUtf8(request->library), entry.error());
    const auto applet = *entry;
    if (applet(nullptr, standins::CPL_INIT, 0, 0) == 0)
        return failed("the applet refused to start", platform::Error::GenFailure);
    const int32_t count = applet(nullptr, standins::CPL_GETCOUNT, 0, 0);
    if (request->index >= count) {
        applet(nullptr, standins::CPL_EXIT, 0, 0);
        return failed("the library has no applet " + std::to_string(request->index), platform::Error::InvalidParameter);
    }
    // FIXME: the applet's own data (lData from CPL_INQUIRE) is not asked
    // for; the machine's applets keep none, so 0 is passed.
    applet(nullptr, standins::CPL_DBLCLK, request->index, 0);
    applet(nullptr, standins::CPL_STOP, request->index, 0);
    applet(nullptr, standins::CPL_EXIT, 0, 0);
    return 0;
}
