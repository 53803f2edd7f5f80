// TavioUnInst.dll as the uninstaller meets it: loaded by its file name, its
// entry points looked up by name.

#include "tests/testkit/machine_fixture.h"

#include "platform/files.h"
#include "platform/registry.h"
#include "platform/sync.h"

#include <dlfcn.h>

namespace {

using namespace std::chrono_literals;

using EntryPoint = uint32_t (*)(uint32_t, uint32_t, uint32_t);
using StartUp = int32_t (*)(void*, uint32_t, void*);

class HookLibraryTest : public testkit::MachineTest {
protected:
    void SetUp() override
    {
        MachineTest::SetUp();
        auto key
            = platform::registry::createKey(platform::registry::Root::LocalMachine, u"Software\\KELTO\\Tavio Menu");
        ASSERT_TRUE(key.ok());
        ASSERT_TRUE(platform::registry::setString(key->key, u"ApplicationPath", u"C:\\Program Files\\Tavio Menu").ok());
        m_library = ::dlopen(testkit::systemProgram("TavioUnInst.dll").c_str(), RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(m_library, nullptr) << ::dlerror();
    }
    void TearDown() override
    {
        if (m_library)
            ::dlclose(m_library);
        MachineTest::TearDown();
    }

    template <typename Function> Function entry(const char* name)
    {
        return reinterpret_cast<Function>(::dlsym(m_library, name));
    }

private:
    void* m_library { nullptr };
};

TEST_F(HookLibraryTest, ExportsItsEntryPointsAndTheStartUpByName)
{
    for (const char* name : { "UninstInitialize", "UninstUnInitialize", "DllMain" })
        EXPECT_NE(entry<void*>(name), nullptr) << name;
    // The hook's own code stays inside the library.
    EXPECT_EQ(entry<void*>("_ZN9uninstall21readApplicationFolderEv"), nullptr);
}

TEST_F(HookLibraryTest, UnInitializeDoesNothing)
{
    auto unInitialize = entry<EntryPoint>("UninstUnInitialize");
    ASSERT_NE(unInitialize, nullptr);
    auto start = entry<StartUp>("DllMain");
    ASSERT_NE(start, nullptr);
    const char16_t* dataFile = u"C:\\Program Files\\Tavio Menu\\MenuData.txt";
    (void)platform::files::createDirectory(u"C:\\Program Files\\Tavio Menu");
    {
        auto file = platform::files::open(
            dataFile, platform::files::Access::Write, platform::files::Share::None, platform::files::Create::New);
        ASSERT_TRUE(file.ok());
    }
    auto trayLauncher = platform::sync::createEvent(
        u"EventTavioUtilityTerminate", platform::sync::ResetMode::Auto, platform::sync::InitialState::NotSignalled);
    ASSERT_TRUE(trayLauncher.ok());

    // The loader's call of the start-up after the plain load succeeds.
    EXPECT_NE(start(nullptr, 1, nullptr), 0);
    EXPECT_EQ(unInitialize(7, 8, 9), 0u);

    EXPECT_TRUE(platform::files::attributes(dataFile).ok());
    auto outcome = platform::sync::waitOne(trayLauncher->handle, 0ms);
    ASSERT_TRUE(outcome.ok());
    EXPECT_TRUE(outcome->timedOut());
}

} // namespace
