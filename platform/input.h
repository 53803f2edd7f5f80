#pragma once

#include "platform/result.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace platform::input {

// Simulated key presses (the platform's keybd_event) and what the machine
// does with the keys the programs press: the volume-mute key switches the
// machine's audio mute, the print-screen key puts a picture on the machine's
// clipboard.

inline constexpr uint8_t VK_SNAPSHOT = 0x2C;
inline constexpr uint8_t VK_VOLUME_MUTE = 0xAD;

inline constexpr uint32_t KEYEVENTF_EXTENDEDKEY = 0x1;
inline constexpr uint32_t KEYEVENTF_KEYUP = 0x2;

// The clipboard format of a captured picture (CF_DIB).
inline constexpr uint32_t CF_DIB = 8;

// One key going down (flags without KEYEVENTF_KEYUP) or up. The machine acts
// when a key goes down: VK_VOLUME_MUTE switches "audio.muted"; VK_SNAPSHOT
// copies the screen (scan code 0) or only the active window (scan code 1) to
// the clipboard. Every event is recorded as "input.key". Like the platform's
// call, it reports nothing.
void keyboardEvent(uint8_t virtualKey, uint8_t scanCode, uint32_t flags, uintptr_t extraInfo);

// Whether the machine's sound is muted ("audio.muted", shared with the
// volume control).
bool audioMuted();
Status setAudioMuted(bool muted);

enum class Capture {
    Screen,
    ActiveWindow,
};

// The picture on the machine's clipboard.
struct ClipboardPicture {
    uint32_t format { CF_DIB };
    uint32_t width { 0 };
    uint32_t height { 0 };
    Capture source { Capture::Screen };
    uint32_t sequence { 0 }; // counts every capture on this machine, from 1
    std::filesystem::path file; // the picture as a BMP file in the machine folder
};

// Nothing when the clipboard holds no picture.
std::optional<ClipboardPicture> clipboardPicture();
// Empties the clipboard (the machine tool).
Status emptyClipboard();

} // namespace platform::input
