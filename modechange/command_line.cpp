#include "modechange/command_line.h"

#include "modechange/firmware_values.h"
#include "modechange/service.h"
#include "modechange/service_state.h"

#include "common/names.h"
#include "common/settings.h"

#include "platform/text.h"

namespace modechange {

std::optional<std::u16string_view> NextSwitch(std::u16string_view text, std::u16string_view marks)
{
    const auto at = text.find_first_of(marks);
    if (at == std::u16string_view::npos)
        return std::nullopt;
    return text.substr(at + 1);
}

int32_t RunCommandLine(std::u16string_view commandLine)
{
    using platform::text::equalsIgnoreCase;
    ExitCode = 0;
    for (auto rest = NextSwitch(commandLine, SwitchMarks); rest; rest = NextSwitch(*rest, SwitchMarks)) {
        if (equalsIgnoreCase(*rest, u"Start")) {
            KeepRunning = 1;
            RunService();
            break;
        }
        if (equalsIgnoreCase(*rest, u"Stop")) {
            StopMonitor();
            (void)common::PulseNamedEvent(common::EventModeChangeShutdown);
            break;
        }
        if (equalsIgnoreCase(*rest, u"Wireless_on"))
            ExitCode = SetWirelessFromCommandLine(WirelessOn);
        else if (equalsIgnoreCase(*rest, u"Wireless_off"))
            ExitCode = SetWirelessFromCommandLine(WirelessOff);
    }
    return ExitCode;
}

} // namespace modechange
