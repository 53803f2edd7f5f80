// A process with a token of its own for the power tests. Runs each argument
// as one step, in order, and prints the platform code of each, separated by
// blanks:
//   enable             enable SeShutdownPrivilege
//   enable:NAME        enable the privilege NAME
//   standby            SetSystemPowerState, suspend
//   hibernate          SetSystemPowerState, hibernate
//   exit:FLAGS         ExitWindowsEx with FLAGS (decimal or 0x hex), reason 0
// Exit code 0, or 64 for a step it does not know.

#include "platform/power.h"
#include "platform/text.h"

#include <cstdio>
#include <cstdlib>
#include <string>

using namespace platform;

int main(int argc, char** argv)
{
    std::string codes;
    for (int i = 1; i < argc; ++i) {
        const std::string step = argv[i];
        Status status;
        if (step == "enable")
            status = power::enablePrivilege(power::SE_SHUTDOWN_NAME);
        else if (step.starts_with("enable:"))
            status = power::enablePrivilege(text::toUtf16(step.substr(7)));
        else if (step == "standby")
            status = power::setSystemPowerState(power::Suspend::Standby, power::Force::No);
        else if (step == "hibernate")
            status = power::setSystemPowerState(power::Suspend::Hibernate, power::Force::No);
        else if (step.starts_with("exit:"))
            status = power::exitWindows(static_cast<uint32_t>(std::strtoul(step.c_str() + 5, nullptr, 0)), 0);
        else
            return 64;
        codes += (codes.empty() ? "" : " ") + std::to_string(status.code());
    }
    std::printf("%s\n", codes.c_str());
    return 0;
}
