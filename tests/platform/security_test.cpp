#include "platform/security.h"

#include "platform/config.h"
#include "platform/registry.h"
#include "platform/store_p.h"
#include "tests/testkit/machine_fixture.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include <stdexcept>

using namespace platform;

namespace {

class SecurityTest : public testkit::MachineTest { };

TEST_F(SecurityTest, AFreshMachineRunsAsItsOwnerAnAdministrator)
{
    auto user = security::currentUser();
    EXPECT_EQ(user.name, u"Owner");
    EXPECT_EQ(user.role, machine::UserRole::Administrator);
    EXPECT_TRUE(security::isAdministrator());
    EXPECT_EQ(security::tokenGroups(),
        (std::vector<std::u16string> {
            std::u16string(security::UsersGroup), std::u16string(security::AdministratorsGroup) }));
    EXPECT_EQ(config::get("user.current"), "Owner");
}

TEST_F(SecurityTest, SwitchingUsersKeepsOneAccountPerName)
{
    ASSERT_TRUE(security::setCurrentUser({ u"Pat", machine::UserRole::StandardUser }));
    EXPECT_EQ(security::currentUser().name, u"Pat");
    EXPECT_FALSE(security::isAdministrator());

    // The same name in another case is the same account, now spelled anew.
    ASSERT_TRUE(security::setCurrentUser({ u"PAT", machine::UserRole::Administrator }));
    auto users = security::users();
    ASSERT_EQ(users.size(), 2u);
    EXPECT_EQ(users[0].name, u"Owner");
    EXPECT_EQ(users[1].name, u"PAT");
    EXPECT_EQ(users[1].role, machine::UserRole::Administrator);
    EXPECT_TRUE(security::isAdministrator());
}

TEST_F(SecurityTest, RefusesNamesThatCannotBeAccounts)
{
    for (std::u16string_view name : std::initializer_list<std::u16string_view> {
             u"", u"a\\b", u"who?", u"tab\there", u"...", std::u16string_view(u"x\0y", 3) }) {
        EXPECT_EQ(security::setCurrentUser({ std::u16string(name), machine::UserRole::Administrator }).error(),
            Error::InvalidName);
    }
    EXPECT_EQ(security::currentUser().name, u"Owner");
}

TEST_F(SecurityTest, ConfigurationHoldsTextByName)
{
    EXPECT_FALSE(config::get("display.orientation"));
    ASSERT_TRUE(config::set("display.orientation", "1"));
    ASSERT_TRUE(config::set("display.profile", ""));
    ASSERT_TRUE(config::set("display.orientation", "2"));
    EXPECT_EQ(config::get("display.orientation"), "2");
    EXPECT_EQ(config::get("display.profile"), "");
    EXPECT_EQ(config::list("display."),
        (std::vector<std::pair<std::string, std::string>> {
            { "display.orientation", "2" }, { "display.profile", "" } }));
    // A prefix matches literally: no wildcards, no case folding.
    EXPECT_TRUE(config::list("DISPLAY.").empty());
    EXPECT_TRUE(config::list("display_").empty());

    ASSERT_TRUE(config::erase("display.profile"));
    EXPECT_FALSE(config::get("display.profile"));
    EXPECT_EQ(config::erase("display.profile").error(), Error::FileNotFound);
    EXPECT_EQ(config::set("", "x").error(), Error::InvalidParameter);
}

TEST_F(SecurityTest, UpdatesOfOneSettingFromManyThreadsLoseNothing)
{
    // Each thread has a connection of its own, as another program would.
    constexpr int Threads = 4;
    constexpr int Rounds = 50;
    std::vector<std::thread> workers;
    for (int t = 0; t < Threads; ++t) {
        workers.emplace_back([] {
            for (int i = 0; i < Rounds; ++i) {
                auto status = config::update("test.counter", [](const std::optional<std::string>& current) {
                    return std::to_string(current ? std::stoi(*current) + 1 : 1);
                });
                ASSERT_TRUE(status.ok()) << describe(status.error());
            }
        });
    }
    for (auto& worker : workers)
        worker.join();
    EXPECT_EQ(config::get("test.counter"), std::to_string(Threads * Rounds));
    EXPECT_EQ(config::update("", [](const auto&) { return std::string(); }).error(), Error::InvalidParameter);
}

TEST_F(SecurityTest, AStoreOfAnotherLayoutIsNotUsed)
{
    ASSERT_TRUE(config::set("kept", "yes"));
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(machine::storePath().c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "PRAGMA user_version=99", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);

    {
        // Another machine in between makes this process open the store afresh.
        testkit::TempMachine other;
        ASSERT_NE(store::connection(), nullptr);
    }
    EXPECT_EQ(store::connection(), nullptr);
    auto key = registry::openKey(registry::Root::LocalMachine, u"SOFTWARE", registry::Access::Read);
    EXPECT_EQ(key.error(), Error::GenFailure);
    EXPECT_FALSE(config::get("kept"));
}

TEST_F(SecurityTest, AThrowingTransactionIsUndoneAndTheThreadGoesOn)
{
    EXPECT_THROW((void)store::transact(store::Mode::Write,
                     []() -> Status {
                         EXPECT_TRUE(config::set("half.done", "1"));
                         throw std::runtime_error("interrupted");
                     }),
        std::runtime_error);
    EXPECT_FALSE(config::get("half.done"));
    EXPECT_TRUE(config::set("after", "1"));
    EXPECT_EQ(config::get("after"), "1");
}

} // namespace
