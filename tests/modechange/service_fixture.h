#pragma once

// A machine with the vendor display library and the session library
// installed, the service's program in the application folder, and helpers
// that wait (bounded) for what the service does.

#include "common/names.h"
#include "vendor/state.h"

#include "platform/display.h"
#include "platform/firmware.h"
#include "platform/journal.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/sync.h"
#include "platform/wmi.h"
#include "tests/testkit/machine_fixture.h"
#include "tools/standins/install.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <thread>

namespace modechangetest {

using namespace std::chrono_literals;

inline constexpr std::u16string_view ApplicationFolder = u"C:\\Program Files\\Tavio Menu";
inline constexpr std::u16string_view ServiceProgram = u"C:\\Program Files\\Tavio Menu\\Modewatch.exe";

// Waits until `done` holds, looking again every few milliseconds, for at
// most `timeout`. What is waited for is a handshake the service leaves (a
// journal entry, a waiter on an event, a value), never a span of time.
inline bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = 20s)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

inline size_t journalCount(std::string_view kind)
{
    return platform::journal::read(kind).size();
}

inline uint32_t waitersOn(std::u16string_view eventName)
{
    auto event = platform::sync::openEvent(eventName);
    if (!event)
        return 0;
    return platform::sync::countWaiters(event.value()).valueOr(0u);
}

inline size_t liveDockSubscriptions()
{
    auto live = platform::wmi::liveSubscriptions();
    return static_cast<size_t>(std::count(live.begin(), live.end(), std::u16string(u"keltoDockEvent")));
}

inline uint32_t loadCalls()
{
    return keltovdisp::calls("keltoVenLoadProfile").count;
}

inline uint32_t orientationOf(std::u16string_view device)
{
    auto mode = platform::display::currentSettings(device);
    return mode ? mode->orientation : 99;
}

inline std::optional<uint32_t> userValue(std::u16string_view name)
{
    auto key = platform::registry::openKey(
        platform::registry::Root::CurrentUser, common::SettingsKey, platform::registry::Access::Read);
    if (!key)
        return std::nullopt;
    auto value = platform::registry::getDword(key.value(), name);
    return value ? std::optional<uint32_t>(value.value()) : std::nullopt;
}

inline void setUserValue(std::u16string_view name, uint32_t value)
{
    auto key = platform::registry::createKey(platform::registry::Root::CurrentUser, common::SettingsKey);
    ASSERT_TRUE(key);
    ASSERT_TRUE(platform::registry::setDword(key->key, name, value));
}

// The last value written to a firmware instance, as the firmware journals it.
inline std::vector<std::string> firmwareWrites(std::string_view instance)
{
    std::vector<std::string> values;
    for (const auto& entry : platform::journal::read("firmware.write")) {
        if (entry.field("instance") == instance)
            values.push_back(entry.field("value"));
    }
    return values;
}

class ServiceMachineTest : public testkit::MachineTest {
protected:
    void SetUp() override
    {
        MachineTest::SetUp();
        ASSERT_TRUE(keltovdisp::installLibrary(TAVIO_BIN_DIR));
        auto installed = standins::installPlatformPrograms(TAVIO_BIN_DIR);
        ASSERT_TRUE(installed) << platform::describe(installed.error());
        auto folder = platform::paths::toHost(ApplicationFolder, platform::paths::Lookup::ForCreate);
        ASSERT_TRUE(folder);
        std::filesystem::create_directories(folder.value());
        std::filesystem::copy_file(std::filesystem::path(TAVIO_BIN_DIR) / "Modewatch.exe",
            folder.value() / "Modewatch.exe", std::filesystem::copy_options::overwrite_existing);
    }

    void TearDown() override
    {
        // A test that failed before the service ended leaves nothing running.
        if (m_service.isValid() && !m_service.exitCode())
            m_service.terminate(9);
        m_service = {};
        MachineTest::TearDown();
    }

    // Starts the program with `arguments` after its name, as the platform
    // starts programs (the command line is handed over as written).
    platform::process::Process startProgram(std::u16string_view arguments)
    {
        auto started = platform::process::start(ServiceProgram, arguments);
        EXPECT_TRUE(started) << platform::describe(started.error());
        return started ? started.value() : platform::process::Process();
    }

    // Runs a one-shot switch to its end: the exit code, or nothing after 30 s.
    std::optional<uint32_t> runProgram(std::u16string_view arguments)
    {
        auto program = startProgram(arguments);
        if (!program.isValid())
            return std::nullopt;
        auto code = program.wait(30s);
        if (!code) {
            program.terminate(9);
            return std::nullopt;
        }
        return code.value();
    }

    // Starts the resident service and waits until its dispatcher waits and
    // its dock monitor has subscribed.
    void startService(std::u16string_view arguments = u"-Start")
    {
        m_service = startProgram(arguments);
        ASSERT_TRUE(m_service.isValid());
        ASSERT_TRUE(waitUntil([] { return waitersOn(common::EventModeChangeShutdown) == 1; }))
            << "the dispatcher does not wait";
        // NOTE: the journal may record the subscription just after it is live.
        ASSERT_TRUE(waitUntil([] { return liveDockSubscriptions() == 1 && journalCount("wmi.subscribe") >= 1; }))
            << "the dock monitor did not subscribe";
    }

    // Waits until the dispatcher waits again (it served the last request).
    static bool dispatcherWaiting()
    {
        return waitUntil([] { return waitersOn(common::EventModeChangeShutdown) == 1; });
    }

    // Sets "ModeChangeShutdown" as the uninstall hook does and waits for the
    // service to end: its exit code, or nothing.
    std::optional<uint32_t> shutDownService()
    {
        auto event = platform::sync::openEvent(common::EventModeChangeShutdown);
        EXPECT_TRUE(event) << "the service has no shutdown event";
        if (event) {
            EXPECT_TRUE(platform::sync::setEvent(event.value()));
        }
        auto code = m_service.wait(20s);
        if (!code)
            return std::nullopt;
        return code.value();
    }

    platform::process::Process& service() { return m_service; }

private:
    platform::process::Process m_service;
};

} // namespace modechangetest
