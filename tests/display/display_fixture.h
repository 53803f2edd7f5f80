#pragma once

// A machine with the vendor display library in C:\WINDOWS\System32 (whole,
// broken or absent), and a watcher for the named events the display and
// device operations pulse.

#include "vendor/keltovdisp.h"
#include "vendor/state.h"

#include "platform/display.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/sync.h"
#include "tests/testkit/machine_fixture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

namespace displaytest {

using namespace std::chrono_literals;

enum class Vendor {
    Installed, // the library as the video driver delivers it
    Broken, // a copy lacking keltoVenSetProfileDefaults
    Absent,
};

class DisplayMachineTest : public testkit::MachineTest {
protected:
    void SetUp() override
    {
        MachineTest::SetUp();
        installVendor(vendor());
    }

    virtual Vendor vendor() const { return Vendor::Installed; }

    // NOTE: a process keeps a library it has loaded from one path, so a test
    // may remove the library but not put another copy in its place.
    static void installVendor(Vendor vendor)
    {
        (void)keltovdisp::removeLibrary();
        if (vendor == Vendor::Installed) {
            ASSERT_TRUE(keltovdisp::installLibrary(TAVIO_BIN_DIR));
        } else if (vendor == Vendor::Broken) {
            ASSERT_TRUE(keltovdisp::installLibrary(TAVIO_BROKEN_VENDOR_DIR));
        }
    }

    static uint32_t callsOf(std::string_view function) { return keltovdisp::calls(function).count; }

    // Calls of every function of the vendor library, in binding order.
    static std::vector<uint32_t> allCalls()
    {
        std::vector<uint32_t> counts;
        for (auto name : keltovdisp::FunctionNames)
            counts.push_back(callsOf(name));
        return counts;
    }
};

// The same cases with the vendor library broken and absent.
class MissingVendorTest : public DisplayMachineTest, public ::testing::WithParamInterface<Vendor> {
protected:
    Vendor vendor() const override { return GetParam(); }
};

inline std::string vendorName(const ::testing::TestParamInfo<Vendor>& info)
{
    return info.param == Vendor::Broken ? "broken_copy" : info.param == Vendor::Absent ? "absent" : "installed";
}

// A second process waiting on a named event, in place before the test acts.
class EventWaiter {
public:
    explicit EventWaiter(std::u16string_view name)
    {
        auto event = platform::sync::createEvent(
            name, platform::sync::ResetMode::Auto, platform::sync::InitialState::NotSignalled);
        auto ready = platform::sync::createEvent(
            u"display-test-ready", platform::sync::ResetMode::Auto, platform::sync::InitialState::NotSignalled);
        if (!event || !ready) {
            ADD_FAILURE() << "cannot create the events";
            return;
        }
        m_event = std::move(event->handle);
        const std::string utf8(name.begin(), name.end());
        m_child = testkit::spawn(
            testkit::helperProgram("sync_peer"), { "wait-event", utf8, "display-test-ready", "10000" });
        auto started = platform::sync::waitOne(ready->handle, 10s);
        EXPECT_TRUE(started && started->signalled()) << "the waiter did not start";
        // The waiter reports ready just before it waits: wait (bounded) until
        // the object manager counts it.
        auto deadline = std::chrono::steady_clock::now() + 10s;
        while (!stillWaiting() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(1ms);
        EXPECT_TRUE(stillWaiting()) << "the waiter is not waiting";
    }

    // Whether the waiter is still waiting: no pulse has released it.
    bool stillWaiting() const
    {
        auto waiting = platform::sync::countWaiters(m_event);
        return waiting && *waiting == 1;
    }

    // Whether a pulse released the waiter (it exits 0 then, 1 on its time-out).
    bool released() { return m_child.wait(15s) == 0; }

private:
    platform::sync::Handle m_event;
    testkit::Child m_child;
};

} // namespace displaytest
