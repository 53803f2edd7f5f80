#pragma once

// Starting the window_peer helper (tests/helpers/window_peer.cpp) and reading
// what its window procedure received, for the window, session and machine
// tool tests.

#include "tests/testkit/machine_fixture.h"

#include "platform/journal.h"
#include "platform/sync.h"
#include "platform/windows.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace testkit {

inline std::string hexText(uint64_t value)
{
    char text[24];
    std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
    return text;
}

// One message the peer's procedure received.
struct PeerMessage {
    std::string window;
    uint32_t message { 0 };
    uint64_t wParam { 0 };
    uint64_t lParam { 0 };
};

class WindowPeers {
public:
    WindowPeers()
    {
        using namespace platform::sync;
        auto ready = createEvent(u"WindowPeerReady", ResetMode::Auto, InitialState::NotSignalled);
        auto report = createEvent(u"WindowPeerReport", ResetMode::Auto, InitialState::NotSignalled);
        EXPECT_TRUE(ready && report) << "cannot create the peer's events";
        if (ready && report) {
            m_ready = std::move(ready->handle);
            m_report = std::move(report->handle);
        }
    }

    // Starts a peer and waits until its window exists (bounded).
    Child start(const std::string& className, const std::string& title, const std::vector<std::string>& options = {})
    {
        std::vector<std::string> arguments { className, title, "WindowPeerReady", "WindowPeerReport" };
        arguments.insert(arguments.end(), options.begin(), options.end());
        Child child = spawn(helperProgram("window_peer"), arguments);
        auto started = platform::sync::waitOne(m_ready, std::chrono::seconds(10));
        EXPECT_TRUE(started && started->signalled()) << "window_peer " << title << " did not report ready";
        return child;
    }

    // Every message the peers' procedures received so far, oldest first.
    static std::vector<PeerMessage> received(std::optional<platform::windows::WindowHandle> window = std::nullopt)
    {
        std::vector<PeerMessage> messages;
        for (const auto& entry : platform::journal::read("peer.message")) {
            if (window && entry.field("window") != hexText(window->value()))
                continue;
            messages.push_back(
                { entry.field("window"), static_cast<uint32_t>(std::stoul(entry.field("message"), nullptr, 16)),
                    std::stoull(entry.field("wParam"), nullptr, 16), std::stoull(entry.field("lParam"), nullptr, 16) });
        }
        return messages;
    }

    // Waits (bounded) until `window` has received `message`; the first such.
    std::optional<PeerMessage> waitFor(platform::windows::WindowHandle window, uint32_t message)
    {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        for (;;) {
            for (const auto& received : received(window)) {
                if (received.message == message)
                    return received;
            }
            auto left
                = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                return std::nullopt;
            // The peer sets the event after each message it journals.
            (void)platform::sync::waitOne(m_report, left);
        }
    }

private:
    platform::sync::Handle m_ready;
    platform::sync::Handle m_report;
};

} // namespace testkit
