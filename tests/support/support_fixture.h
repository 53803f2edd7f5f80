#pragma once

// A machine with the application installed in "C:\Program Files\Tavio Menu"
// and the support library started in this process, as if it had just been
// loaded. The log's clock is fixed at 14:05:09 on 8 September 2004.

#include "common/names.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "support/library_state.h"
#include "support/log.h"
#include "support/tavio_support.h"
#include "tests/testkit/machine_fixture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

namespace supporttest {

inline constexpr std::u16string_view AppFolder = u"C:\\Program Files\\Tavio Menu";
inline constexpr const char* FixedStamp = "14:05:09 09/08/2004: ";

inline support::LocalTime fixedTime()
{
    return { 2004, 9, 8, 14, 5, 9 };
}

class SupportTest : public testkit::MachineTest {
protected:
    void SetUp() override
    {
        MachineTest::SetUp();
        ASSERT_TRUE(platform::files::createDirectory(AppFolder).ok());
        auto key = platform::registry::createKey(platform::registry::Root::LocalMachine, common::SettingsKey);
        ASSERT_TRUE(key.ok());
        ASSERT_TRUE(platform::registry::setString(key->key, common::ValueApplicationPath, AppFolder).ok());
        support::setLocalTimeSource(&fixedTime);
        support::resetProcessState();
        support::attachProcess();
    }

    void TearDown() override
    {
        support::setLocalTimeSource(nullptr);
        support::resetProcessState();
        MachineTest::TearDown();
    }

    // Host path of a file in the application folder.
    std::filesystem::path appFile(std::u16string_view name)
    {
        return machine().host(std::u16string(AppFolder) + u"\\" + std::u16string(name));
    }
    std::filesystem::path dataFile() { return appFile(common::DataFileName); }
    std::filesystem::path backupFile() { return appFile(common::BackupFileName); }
    std::filesystem::path logFile() { return appFile(common::LogFileName); }

    static std::string bytesOf(const std::filesystem::path& path) { return testkit::readFile(path); }
    static void writeBytes(const std::filesystem::path& path, const std::string& bytes)
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
};

// A zeroed block on the heap.
inline std::unique_ptr<TavioMenuData> emptyBlock()
{
    return std::make_unique<TavioMenuData>();
}

// A block with `count` distinct entries whose texts carry units after their
// terminators, since those are stored and summed as well.
inline std::unique_ptr<TavioMenuData> menuWith(uint32_t count)
{
    auto data = emptyBlock();
    data->NumEntries = count;
    data->DataSize = count * TabInfoSize;
    data->LastTabIDUsed = 300 + count;
    for (uint32_t i = 0; i < count; ++i) {
        TabInfo& entry = data->TabInfo[i];
        entry.Flags = (i % 2 ? FLAG_SHOWN : 0) | (i >= 20 ? FLAG_USER_ENTRY : 0);
        entry.TabID = 231 + i;
        entry.HelpStringID = 34;
        for (uint32_t unit = 0; unit < MenuTextUnits; ++unit) {
            entry.DisplayName[unit] = static_cast<char16_t>(0x41 + (i + unit) % 26);
            entry.FileName[unit] = static_cast<char16_t>(0x100 + i * 7 + unit);
        }
        entry.DisplayName[5] = 0;
        entry.FileName[9] = 0;
    }
    return data;
}

// The bytes of the data file a block gives: header, entries in use, checksum.
inline std::string fileImageOf(const TavioMenuData& data, uint32_t checkSum)
{
    std::string image(reinterpret_cast<const char*>(&data), MenuHeaderSize + data.DataSize);
    image.append(reinterpret_cast<const char*>(&checkSum), sizeof(checkSum));
    return image;
}

} // namespace supporttest
