#include "platform/power.h"

#include "platform/journal.h"
#include "tests/testkit/machine_fixture.h"

#include <gtest/gtest.h>

using namespace platform;
using namespace platform::power;

namespace {

// Enabled privileges belong to the process, as in its token, so each
// scenario runs in a process of its own (the power_client helper), which
// prints the platform code of each step.
class PowerTest : public testkit::MachineTest {
protected:
    static std::string codesOf(const std::vector<std::string>& steps)
    {
        auto completed = testkit::run(testkit::helperProgram("power_client"), steps);
        EXPECT_EQ(completed.exitCode, 0) << completed.output;
        return completed.output;
    }

    static std::vector<std::string> requests()
    {
        std::vector<std::string> names;
        for (const auto& entry : journal::read("power.request"))
            names.push_back(entry.field("request"));
        return names;
    }
};

TEST_F(PowerTest, RequestsNeedTheShutdownPrivilegeEnabledFirst)
{
    // Logging off needs no privilege; the others only once it is enabled.
    EXPECT_EQ(codesOf({ "standby", "exit:1", "exit:0", "enable", "standby", "hibernate", "exit:1" }),
        "1314 1314 0 0 0 0 0\n");
    EXPECT_EQ(requests(), (std::vector<std::string> { "logoff", "standby", "hibernate", "shutdown" }));
    EXPECT_EQ(journal::read("power.request").back().field("flags"), "1");
    EXPECT_EQ(state().last, "shutdown");
    EXPECT_EQ(state().requests, 4u);
    // This process never enabled the privilege.
    EXPECT_FALSE(privilegeEnabled(SE_SHUTDOWN_NAME));
}

TEST_F(PowerTest, APolicyThatDeniesThePrivilegeLeavesTheTokenAsItWas)
{
    ASSERT_TRUE(setShutdownPolicy(Policy::Denied));
    EXPECT_EQ(codesOf({ "enable", "standby", "exit:1", "enable:SeMadeUpPrivilege" }), "1300 1314 1314 1313\n");
    EXPECT_TRUE(requests().empty());
    EXPECT_EQ(state().last, "on");
}

TEST_F(PowerTest, ShutDownFlagsAndHibernationAreChecked)
{
    ASSERT_TRUE(setHibernationEnabled(false));
    // Hibernation off: 50. Shut down and reboot at once, or an unknown flag:
    // 87. Power off with force, reboot if hung: accepted.
    EXPECT_EQ(codesOf({ "enable", "hibernate", "exit:3", "exit:0x1001", "exit:0xD", "exit:0x12" }), "0 50 87 87 0 0\n");
    EXPECT_EQ(requests(), (std::vector<std::string> { "poweroff", "reboot" }));
}

} // namespace
