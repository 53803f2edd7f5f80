// TavioUnInst.dll as the uninstaller meets it: loaded from the application
// folder through the platform's loader, its entry points bound by name.

#include "tests/testkit/machine_fixture.h"

#include "platform/files.h"
#include "platform/modules.h"
#include "platform/registry.h"
#include "platform/sync.h"

#include <filesystem>

namespace {

using namespace std::chrono_literals;
using platform::Error;
using platform::modules::Module;

using EntryPoint = uint32_t (*)(uint32_t, uint32_t, uint32_t);
using StartUp = int32_t (*)(void*, uint32_t, void*);

constexpr std::u16string_view ApplicationFolder = u"C:\\Program Files\\Tavio Menu";
constexpr std::u16string_view HookPath = u"C:\\Program Files\\Tavio Menu\\TavioUnInst.dll";
constexpr std::u16string_view DataFile = u"C:\\Program Files\\Tavio Menu\\MenuData.txt";

class HookLibraryTest : public testkit::MachineTest {
protected:
    void SetUp() override
    {
        MachineTest::SetUp();
        auto key
            = platform::registry::createKey(platform::registry::Root::LocalMachine, u"Software\\KELTO\\Tavio Menu");
        ASSERT_TRUE(key.ok());
        ASSERT_TRUE(platform::registry::setString(key->key, u"ApplicationPath", ApplicationFolder).ok());
        ASSERT_TRUE(platform::files::createDirectory(ApplicationFolder).ok());
        std::filesystem::copy_file(testkit::systemProgram("TavioUnInst.dll"), machine().host(HookPath));
    }

    Module load()
    {
        auto loaded = Module::load(HookPath);
        EXPECT_TRUE(loaded.ok()) << platform::describe(loaded.error());
        return loaded.ok() ? std::move(loaded).value() : Module();
    }
};

TEST_F(HookLibraryTest, ExportsItsEntryPointsAndTheStartUpByName)
{
    Module hook = load();
    ASSERT_TRUE(hook.isLoaded());
    EXPECT_TRUE(hook.symbol<EntryPoint>("UninstInitialize").ok());
    EXPECT_TRUE(hook.symbol<EntryPoint>("UninstUnInitialize").ok());
    EXPECT_TRUE(hook.symbol<StartUp>("DllMain").ok());
    // The hook's own code stays inside the library.
    EXPECT_EQ(platform::modules::exportAddress(hook.handle(), "_ZN9uninstall21readApplicationFolderEv").error(),
        Error::ProcNotFound);
}

TEST_F(HookLibraryTest, UnInitializeDoesNothing)
{
    {
        auto file = platform::files::open(
            DataFile, platform::files::Access::Write, platform::files::Share::None, platform::files::Create::New);
        ASSERT_TRUE(file.ok());
    }
    auto trayLauncher = platform::sync::createEvent(
        u"EventTavioUtilityTerminate", platform::sync::ResetMode::Auto, platform::sync::InitialState::NotSignalled);
    ASSERT_TRUE(trayLauncher.ok());
    Module hook = load();
    auto unInitialize = hook.symbol<EntryPoint>("UninstUnInitialize");
    ASSERT_TRUE(unInitialize.ok());

    EXPECT_EQ((*unInitialize)(7, 8, 9), 0u);

    EXPECT_TRUE(platform::files::attributes(DataFile).ok());
    auto outcome = platform::sync::waitOne(trayLauncher->handle, 0ms);
    ASSERT_TRUE(outcome.ok());
    EXPECT_TRUE(outcome->timedOut());
}

} // namespace
