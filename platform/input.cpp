#include "platform/input.h"

#include "platform/config.h"
#include "platform/display.h"
#include "platform/journal.h"
#include "platform/machine.h"
#include "platform/store_p.h"

#include <charconv>
#include <cstdio>
#include <fstream>
#include <map>
#include <vector>

/*
 * The machine's sound and clipboard, format version 1, in the machine
 * configuration:
 *
 *   "audio.muted"        "1" muted, "0" (or absent) not; shared with the
 *                        volume control, which also keeps "audio.volume".
 *   "clipboard.picture"  "v1 format=8 width=1024 height=768 source=screen
 *                         sequence=3 file=clipboard.bmp"
 *                        the picture on the clipboard; absent when empty.
 *                        source is "screen" or "window"; file names the
 *                        picture in the machine folder.
 *   "clipboard.sequence" the number of the last capture on this machine.
 *
 * The picture file is a bottom-up BMP, 1 bit per pixel, of the captured
 * size, replaced whole (written beside it, then renamed) at every capture.
 */

namespace platform::input {

namespace {

constexpr std::string_view MutedSetting = "audio.muted";
constexpr std::string_view PictureSetting = "clipboard.picture";
constexpr std::string_view SequenceSetting = "clipboard.sequence";
constexpr std::string_view PictureFileName = "clipboard.bmp";
constexpr std::string_view FormatVersion = "v1";

std::string hexByte(uint32_t value)
{
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "0x%02X", value & 0xFF);
    return buffer;
}

std::optional<uint32_t> number(std::string_view text)
{
    uint32_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

void putLittleEndian(std::vector<char>& out, uint32_t value, size_t bytes)
{
    for (size_t i = 0; i < bytes; ++i)
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

// A blank picture of the given size.
// FIXME: the machine has no screen contents to read (there is no display
// server behind the display adapter), so a capture holds a blank picture
// of the right size instead of what was shown.
bool writePicture(const std::filesystem::path& path, uint32_t width, uint32_t height)
{
    const uint32_t stride = (width + 31) / 32 * 4;
    const uint32_t pixelBytes = stride * height;
    const uint32_t paletteBytes = 2 * 4;
    const uint32_t offset = 14 + 40 + paletteBytes;
    std::vector<char> bytes;
    bytes.reserve(offset + pixelBytes);
    bytes.push_back('B');
    bytes.push_back('M');
    putLittleEndian(bytes, offset + pixelBytes, 4);
    putLittleEndian(bytes, 0, 4);
    putLittleEndian(bytes, offset, 4);
    putLittleEndian(bytes, 40, 4); // BITMAPINFOHEADER
    putLittleEndian(bytes, width, 4);
    putLittleEndian(bytes, height, 4);
    putLittleEndian(bytes, 1, 2); // planes
    putLittleEndian(bytes, 1, 2); // bits per pixel
    putLittleEndian(bytes, 0, 4); // BI_RGB
    putLittleEndian(bytes, pixelBytes, 4);
    putLittleEndian(bytes, 2835, 4); // 72 dots per inch
    putLittleEndian(bytes, 2835, 4);
    putLittleEndian(bytes, 2, 4);
    putLittleEndian(bytes, 0, 4);
    putLittleEndian(bytes, 0x000000, 4); // palette: black, white
    putLittleEndian(bytes, 0xFFFFFF, 4);
    bytes.resize(offset + pixelBytes, static_cast<char>(0xFF));

    std::filesystem::path partial = path;
    partial += ".partial";
    {
        std::ofstream out(partial, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        if (!out)
            return false;
    }
    std::error_code error;
    std::filesystem::rename(partial, path, error);
    return !error;
}

void capture(Capture source)
{
    // FIXME: the machine has no windows of its own to know the active one
    // by, so a window capture takes the size of the primary display too.
    auto mode = display::currentSettings(u"");
    const uint32_t width = mode ? mode->width : 1024;
    const uint32_t height = mode ? mode->height : 768;
    const std::filesystem::path file = machine::root() / PictureFileName;
    if (!writePicture(file, width, height))
        return;
    const std::string_view sourceName = source == Capture::Screen ? "screen" : "window";
    uint32_t sequence = 0;
    auto status = store::transact(store::Mode::Write, [&]() -> Status {
        sequence = number(config::get(SequenceSetting).value_or("0")).value_or(0) + 1;
        TRY_STATUS(config::set(SequenceSetting, std::to_string(sequence)));
        return config::set(PictureSetting,
            std::string(FormatVersion) + " format=" + std::to_string(CF_DIB) + " width=" + std::to_string(width)
                + " height=" + std::to_string(height) + " source=" + std::string(sourceName)
                + " sequence=" + std::to_string(sequence) + " file=" + std::string(PictureFileName));
    });
    if (!status)
        return;
    journal::record("clipboard.capture",
        { { "source", std::string(sourceName) }, { "width", std::to_string(width) },
            { "height", std::to_string(height) }, { "sequence", std::to_string(sequence) } });
}

void toggleMute()
{
    bool muted = false;
    auto status = store::transact(store::Mode::Write, [&]() -> Status {
        muted = config::get(MutedSetting).value_or("0") != "1";
        return config::set(MutedSetting, muted ? "1" : "0");
    });
    if (status)
        journal::record("audio.mute", { { "muted", muted ? "1" : "0" } });
}

} // namespace

void keyboardEvent(uint8_t virtualKey, uint8_t scanCode, uint32_t flags, uintptr_t extraInfo)
{
    const bool down = (flags & KEYEVENTF_KEYUP) == 0;
    journal::record("input.key",
        { { "vk", hexByte(virtualKey) }, { "scan", std::to_string(scanCode) }, { "flags", std::to_string(flags) },
            { "direction", down ? "down" : "up" }, { "extra", std::to_string(extraInfo) } });
    if (!down)
        return;
    if (virtualKey == VK_VOLUME_MUTE)
        toggleMute();
    else if (virtualKey == VK_SNAPSHOT)
        capture(scanCode == 1 ? Capture::ActiveWindow : Capture::Screen);
}

bool audioMuted()
{
    return config::get(MutedSetting).value_or("0") == "1";
}

Status setAudioMuted(bool muted)
{
    return config::set(MutedSetting, muted ? "1" : "0");
}

std::optional<ClipboardPicture> clipboardPicture()
{
    auto value = config::get(PictureSetting);
    if (!value || value->compare(0, FormatVersion.size() + 1, std::string(FormatVersion) + " ") != 0)
        return std::nullopt;
    std::map<std::string, std::string, std::less<>> words;
    std::string_view rest = std::string_view(*value).substr(FormatVersion.size() + 1);
    while (!rest.empty()) {
        size_t end = rest.find(' ');
        std::string_view word = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        size_t equals = word.find('=');
        if (equals != std::string_view::npos)
            words.emplace(std::string(word.substr(0, equals)), std::string(word.substr(equals + 1)));
    }
    auto field = [&](std::string_view name) -> std::optional<uint32_t> {
        auto found = words.find(name);
        return found == words.end() ? std::nullopt : number(found->second);
    };
    auto format = field("format"), width = field("width"), height = field("height"), sequence = field("sequence");
    auto source = words.find("source");
    auto file = words.find("file");
    if (!format || !width || !height || !sequence || source == words.end() || file == words.end())
        return std::nullopt;
    return ClipboardPicture { *format, *width, *height,
        source->second == "window" ? Capture::ActiveWindow : Capture::Screen, *sequence,
        machine::root() / file->second };
}

Status emptyClipboard()
{
    auto status = config::erase(PictureSetting);
    if (!status && status.error() != Error::FileNotFound)
        return status;
    std::error_code ignored;
    std::filesystem::remove(machine::root() / PictureFileName, ignored);
    return {};
}

} // namespace platform::input
