#include "uninstall/hook.h"

#include "platform/files.h"
#include "platform/registry.h"
#include "platform/sync.h"
#include "platform/text.h"

#include <algorithm>
#include <string>
#include <utility>

namespace uninstall {

namespace {

constexpr std::u16string_view SettingsKey = u"Software\\KELTO\\Tavio Menu";
constexpr std::u16string_view ApplicationPathValue = u"ApplicationPath";

std::string_view view(const PathBuffer& buffer)
{
    auto end = std::find(buffer.begin(), buffer.end(), '\0');
    return { buffer.data(), static_cast<size_t>(end - buffer.begin()) };
}

// Copies text and its terminator into the buffer; false, leaving it empty,
// when they do not fit or the text holds a terminator of its own.
bool copyTo(PathBuffer& buffer, std::string_view text)
{
    buffer.fill('\0');
    if (text.size() >= buffer.size() || text.find('\0') != std::string_view::npos)
        return false;
    std::copy(text.begin(), text.end(), buffer.begin());
    return true;
}

} // namespace

PathBuffer readApplicationFolder()
{
    PathBuffer folder {};
    using namespace platform::registry;
    auto key = openKey(Root::LocalMachine, SettingsKey, Access::Read);
    if (!key)
        return folder;
    auto value = getValue(*key, ApplicationPathValue);
    if (!value || value->type != ValueType::String)
        return folder;
    auto text = getString(*key, ApplicationPathValue);
    if (!text)
        return folder;
    // NOTE: the machine's 8-bit code page is UTF-8, so every folder name
    // survives the trip to 8 bits and back. Text that does not (a lone
    // surrogate) is refused rather than turned into another name.
    std::string narrow = platform::text::toUtf8(*text);
    if (platform::text::toUtf16(narrow) != *text)
        return folder;
    (void)copyTo(folder, narrow);
    return folder;
}

bool joinPath(PathBuffer& joined, const PathBuffer& folder, std::string_view suffix)
{
    std::string_view base = view(folder);
    if (base.empty()) {
        joined.fill('\0');
        return false;
    }
    std::string path;
    path.reserve(base.size() + suffix.size());
    path.append(base).append(suffix);
    return copyTo(joined, path);
}

Hook::Hook(const PathBuffer& applicationFolder, Wait wait)
    : m_applicationFolder(applicationFolder)
    , m_wait(std::move(wait))
{ }

void Hook::deleteSharedDataFiles() const
{
    for (std::string_view suffix : { DataFileSuffix, BackupFileSuffix }) {
        PathBuffer path {};
        if (!joinPath(path, m_applicationFolder, suffix))
            continue;
        // A file already gone, or held open by a program that is still
        // running, is left as it is: the uninstall goes on either way.
        (void)platform::files::remove(platform::text::toUtf16(view(path)));
    }
}

void Hook::signalTrayLauncher() const
{
    using namespace platform::sync;
    auto event = createEvent(TrayLauncherTerminateEvent, ResetMode::Auto, InitialState::NotSignalled);
    if (!event)
        return;
    (void)setEvent(event->handle);
    // Gives the waiting tray launcher the processor before the event is
    // closed; when nobody else holds it, closing ends the event.
    sleep(std::chrono::milliseconds(0));
}

void Hook::signalModeChangeService() const
{
    // Opened, never created: a service that is not running has no event, and
    // one made here would only vanish again.
    auto event = platform::sync::openEvent(ModeChangeShutdownEvent);
    if (event)
        (void)platform::sync::setEvent(*event);
}

uint32_t Hook::initialize() const
{
    deleteSharedDataFiles();
    signalTrayLauncher();
    m_wait(TrayLauncherGrace);
    signalModeChangeService();
    m_wait(ModeChangeGrace);
    return 0;
}

} // namespace uninstall
