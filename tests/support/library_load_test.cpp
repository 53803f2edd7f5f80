// Loads the built TavioSupport.DLL the way the quick menu and the applet do:
// by file name, each export looked up by name.

#include "common/names.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "support/tavio_support.h"
#include "tests/support/support_fixture.h"
#include "tests/testkit/machine_fixture.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <filesystem>
#include <regex>

namespace {

class LibraryLoadTest : public testkit::MachineTest {
protected:
    void SetUp() override
    {
        MachineTest::SetUp();
        ASSERT_TRUE(platform::files::createDirectory(supporttest::AppFolder).ok());
        auto key = platform::registry::createKey(platform::registry::Root::LocalMachine, common::SettingsKey);
        ASSERT_TRUE(key.ok());
        ASSERT_TRUE(platform::registry::setString(key->key, common::ValueApplicationPath, supporttest::AppFolder).ok());
    }

    std::filesystem::path appFile(std::u16string_view name)
    {
        return machine().host(std::u16string(supporttest::AppFolder) + u"\\" + std::u16string(name));
    }
};

TEST_F(LibraryLoadTest, LoadingCreatesTheLogAndEveryExportIsFoundByName)
{
    ASSERT_FALSE(std::filesystem::exists(appFile(common::LogFileName)));

    const auto path = std::filesystem::path(TAVIO_BIN_DIR) / TavioSupportLibraryName;
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();

    // Start-up made an empty log beside the data file.
    EXPECT_TRUE(std::filesystem::exists(appFile(common::LogFileName)));
    EXPECT_EQ(testkit::readFile(appFile(common::LogFileName)), "");

#define TAVIO_TEST_BIND(name)                                                                                          \
    auto bound##name = reinterpret_cast<name##Proc>(dlsym(library, #name));                                            \
    EXPECT_NE(bound##name, nullptr) << "export " #name " is missing";
    TAVIO_SUPPORT_EXPORTS(TAVIO_TEST_BIND)
#undef TAVIO_TEST_BIND
    // The library's own code is not exported.
    EXPECT_EQ(dlsym(library, "_ZN7support13attachProcessEv"), nullptr);

    if (boundReadTavioMenuData && boundWriteTavioMenuData && boundCopyDataBackupFile && boundLogInfo) {
        auto written = supporttest::menuWith(3);
        written->CheckSum = 7;
        EXPECT_EQ(boundWriteTavioMenuData(*written), 1u);
        EXPECT_EQ(written->CheckSum, 7u);
        auto read = supporttest::emptyBlock();
        EXPECT_EQ(boundReadTavioMenuData(read.get()), 0u);
        EXPECT_EQ(std::memcmp(read.get(), written.get(), MenuHeaderSize + written->DataSize), 0);
        EXPECT_NE(boundCopyDataBackupFile(), 0);

        boundLogInfo(u"TAVIOMENU: %s %d\n", u"started", 2);
        EXPECT_TRUE(std::regex_match(testkit::readFile(appFile(common::LogFileName)),
            std::regex(R"(\d\d:\d\d:\d\d \d\d/\d\d/\d{4}: TAVIOMENU: started 2\r\n)")));
    }
    dlclose(library);
}

} // namespace
