#include "platform/modules.h"

#include "platform/paths.h"
#include "platform/text.h"

#include <dlfcn.h>
#include <link.h>

#include <array>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <system_error>
#include <vector>

namespace platform::modules {

namespace fs = std::filesystem;

// NOTE: a handle is the host loader's own handle of the library (its link
// map), not a number of this file's table. The support library carries a copy
// of this code of its own, so a handle it receives in DllMain from the
// program's copy must mean the same library in its copy too.

namespace {

using AttachFunction = int32_t (*)(void* module, uint32_t reason, void* reserved);

constexpr uint32_t ProcessDetach = 0;
constexpr uint32_t ProcessAttach = 1;
constexpr std::u16string_view DefaultExtension = u".DLL";

struct Loaded {
    void* library { nullptr };
    uint32_t references { 0 };
    std::u16string fileName;
    // Set when this copy of the loader ran the library's attach, and so owes
    // it the detach.
    AttachFunction dllMain { nullptr };
};

struct LoaderState {
    // Recursive: a library's DllMain may load or free libraries itself, as it
    // may on the platform while the loader holds its lock.
    std::recursive_mutex lock;
    std::map<uintptr_t, Loaded> loaded;
    // Libraries that were detached but that the host loader kept resident
    // (another holder, or marked not to unload): their next load attaches
    // them again.
    std::set<uintptr_t> detachedResident;
};

LoaderState& state()
{
    static LoaderState instance;
    return instance;
}

uintptr_t valueOf(void* library)
{
    return reinterpret_cast<uintptr_t>(library);
}

struct Located {
    fs::path host;
    std::u16string windowsPath;
};

bool isRegularFile(const fs::path& path)
{
    std::error_code ignored;
    return fs::is_regular_file(path, ignored);
}

// The name as the platform completes it: a name without extension gets
// ".DLL"; a trailing dot means "exactly this name, no extension".
std::u16string completeName(std::u16string_view name)
{
    if (name.ends_with(u'.')) {
        size_t end = name.find_last_not_of(u'.');
        return std::u16string(name.substr(0, end == std::u16string_view::npos ? 0 : end + 1));
    }
    std::u16string completed(name);
    if (paths::extension(paths::fileName(name)).empty())
        completed += DefaultExtension;
    return completed;
}

bool isPath(std::u16string_view name)
{
    return name.find_first_of(u"\\/:") != std::u16string_view::npos;
}

std::u16string windowsPathOf(const fs::path& host)
{
    auto windowsPath = paths::fromHost(host);
    return windowsPath ? windowsPath.value() : text::toUtf16(host.string());
}

std::optional<Located> locateOnDriveC(std::u16string_view windowsPath)
{
    auto host = paths::toHost(windowsPath, paths::Lookup::Existing);
    if (!host || !isRegularFile(host.value()))
        return std::nullopt;
    return Located { host.value(), windowsPathOf(host.value()) };
}

// A folder of the host outside the machine (the program runs from the build
// folder): the name is matched without regard to case there as well.
std::optional<Located> locateInHostFolder(const fs::path& folder, std::u16string_view name)
{
    std::error_code error;
    for (fs::directory_iterator entry(folder, error), end; !error && entry != end; entry.increment(error)) {
        if (text::equalsIgnoreCase(text::toUtf16(entry->path().filename().string()), name)
            && isRegularFile(entry->path()))
            return Located { entry->path(), text::toUtf16(entry->path().string()) };
    }
    return std::nullopt;
}

fs::path programPath()
{
    std::error_code error;
    fs::path program = fs::read_symlink("/proc/self/exe", error);
    return error ? fs::path() : program;
}

std::optional<Located> locateInProgramFolder(std::u16string_view name)
{
    fs::path folder = programPath().parent_path();
    if (folder.empty())
        return std::nullopt;
    if (auto windowsFolder = paths::fromHost(folder))
        return locateOnDriveC(paths::append(windowsFolder.value(), name));
    return locateInHostFolder(folder, name);
}

Result<Located> locate(std::u16string_view requested)
{
    if (requested.empty())
        return Error::InvalidParameter;
    std::u16string name = completeName(requested);
    if (name.empty())
        return Error::InvalidParameter;

    if (isPath(name)) {
        auto host = paths::toHost(name, paths::Lookup::Existing);
        if (!host) {
            if (host.error() == Error::FileNotFound || host.error() == Error::PathNotFound)
                return Error::ModNotFound;
            return host.error();
        }
        if (!isRegularFile(host.value()))
            return Error::ModNotFound;
        return Located { host.value(), windowsPathOf(host.value()) };
    }

    // The platform's search order for a bare name.
    if (auto found = locateInProgramFolder(name))
        return std::move(*found);
    for (const auto& folder : { paths::systemDirectory(), paths::windowsDirectory() }) {
        if (auto found = locateOnDriveC(paths::append(folder, name)))
            return std::move(*found);
    }
    return Error::ModNotFound;
}

// Whether the file is a shared object of this machine's kind, so that the
// platform's 193 can be told from a library that fails for another reason.
bool isLoadableImage(const fs::path& host)
{
    std::ifstream file(host, std::ios::binary);
    std::array<unsigned char, EI_NIDENT + 2> header {};
    if (!file.read(reinterpret_cast<char*>(header.data()), header.size()))
        return false;
    if (std::memcmp(header.data(), ELFMAG, SELFMAG) != 0 || header[EI_CLASS] != ELFCLASS64
        || header[EI_DATA] != ELFDATA2LSB)
        return false;
    uint16_t type = static_cast<uint16_t>(header[EI_NIDENT] | header[EI_NIDENT + 1] << 8);
    return type == ET_DYN;
}

// Walks the host loader's list of objects without touching `handle` itself,
// so that a stale or made-up handle is refused instead of followed.
bool isLoadedObject(uintptr_t handle)
{
    if (handle == 0)
        return false;
    void* self = dlopen(nullptr, RTLD_NOW);
    link_map* map = nullptr;
    if (!self || dlinfo(self, RTLD_DI_LINKMAP, &map) != 0)
        return false;
    for (; map; map = map->l_next) {
        if (reinterpret_cast<uintptr_t>(map) == handle)
            return true;
    }
    return false;
}

// Looks an export up in the library itself: dlsym also searches the
// libraries it depends on, which the platform does not.
void* ownExport(void* library, std::string_view name)
{
    std::string symbolName(name);
    if (symbolName.empty() || symbolName.find('\0') != std::string::npos)
        return nullptr;
    dlerror();
    void* address = dlsym(library, symbolName.c_str());
    if (!address)
        return nullptr;
    Dl_info info {};
    link_map* owner = nullptr;
    if (dladdr1(address, &info, reinterpret_cast<void**>(&owner), RTLD_DL_LINKMAP) == 0
        || reinterpret_cast<void*>(owner) != library)
        return nullptr;
    return address;
}

// The library handle this process holds, if any: a valid handle of the table
// or of the host loader's list.
std::optional<void*> findLibrary(ModuleHandle module)
{
    auto& loader = state();
    auto found = loader.loaded.find(module.value());
    if (found != loader.loaded.end())
        return found->second.library;
    if (isLoadedObject(module.value()))
        return module.pointer();
    return std::nullopt;
}

void noteIfResident(const fs::path& host, uintptr_t handle)
{
    if (void* still = dlopen(host.c_str(), RTLD_NOW | RTLD_NOLOAD)) {
        if (valueOf(still) == handle)
            state().detachedResident.insert(handle);
        dlclose(still);
    }
}

} // namespace

Result<ModuleHandle> loadLibrary(std::u16string_view name)
{
    std::lock_guard guard(state().lock);
    auto& loader = state();
    TRY_RESULT(located, locate(name));

    // Each load holds one reference of the host loader, given back by free.
    bool firstInProcess = false;
    void* library = dlopen(located.host.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (!library) {
        if (!isLoadableImage(located.host))
            return Error::BadExeFormat;
        library = dlopen(located.host.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!library) {
            // The file is a library, so what is missing is one it depends on.
            const char* reason = dlerror();
            bool missing = reason && std::strstr(reason, "No such file") != nullptr;
            return missing ? Error::ModNotFound : Error::BadExeFormat;
        }
        firstInProcess = true;
    }

    uintptr_t handle = valueOf(library);
    auto [entry, added] = loader.loaded.try_emplace(handle);
    Loaded& record = entry->second;
    record.references += 1;
    if (!added) {
        // This copy has it already: one more reference, no second attach.
        return ModuleHandle(handle);
    }
    record.library = library;
    record.fileName = located.windowsPath;
    // Loaded in the process through another copy of the loader: that copy
    // attached it, unless it was detached and only kept resident.
    if (!firstInProcess && loader.detachedResident.erase(handle) > 0)
        firstInProcess = true;
    if (!firstInProcess)
        return ModuleHandle(handle);

    auto dllMain = reinterpret_cast<AttachFunction>(ownExport(library, "DllMain"));
    if (!dllMain)
        return ModuleHandle(handle);
    record.dllMain = dllMain;
    if (dllMain(library, ProcessAttach, nullptr) == 0) {
        // The platform tells a refusing library of its end before unloading it.
        dllMain(library, ProcessDetach, nullptr);
        loader.loaded.erase(handle);
        dlclose(library);
        return Error::DllInitFailed;
    }
    return ModuleHandle(handle);
}

Status freeLibrary(ModuleHandle module)
{
    std::lock_guard guard(state().lock);
    auto& loader = state();
    auto found = loader.loaded.find(module.value());
    if (found == loader.loaded.end())
        return Error::InvalidHandle;
    Loaded& record = found->second;
    void* library = record.library;
    if (--record.references > 0) {
        dlclose(library);
        return {};
    }
    AttachFunction dllMain = record.dllMain;
    std::u16string fileName = record.fileName;
    loader.loaded.erase(found);
    if (dllMain)
        dllMain(library, ProcessDetach, nullptr);
    dlclose(library);
    if (dllMain) {
        auto host = paths::toHost(fileName, paths::Lookup::Existing);
        noteIfResident(host ? host.value() : fs::path(text::toUtf8(fileName)), module.value());
    }
    return {};
}

Result<void*> exportAddress(ModuleHandle module, std::string_view name)
{
    std::lock_guard guard(state().lock);
    auto library = findLibrary(module);
    if (!library)
        return Error::InvalidHandle;
    void* address = ownExport(*library, name);
    if (!address)
        return Error::ProcNotFound;
    return address;
}

Result<std::u16string> moduleFileName(ModuleHandle module)
{
    std::lock_guard guard(state().lock);
    auto& loader = state();
    if (auto found = loader.loaded.find(module.value()); found != loader.loaded.end())
        return found->second.fileName;
    if (!isLoadedObject(module.value()))
        return Error::InvalidHandle;
    auto* map = static_cast<link_map*>(module.pointer());
    // The program itself has no name in the host loader's list.
    fs::path host = map->l_name && *map->l_name ? fs::path(map->l_name) : programPath();
    return windowsPathOf(host);
}

Result<ModuleHandle> moduleContaining(const void* address)
{
    Dl_info info {};
    link_map* owner = nullptr;
    if (!address || dladdr1(address, &info, reinterpret_cast<void**>(&owner), RTLD_DL_LINKMAP) == 0 || !owner)
        return Error::ModNotFound;
    return ModuleHandle(reinterpret_cast<uintptr_t>(owner));
}

Result<Module> Module::load(std::u16string_view name)
{
    TRY_RESULT(handle, loadLibrary(name));
    return Module(handle);
}

Module& Module::operator=(Module&& other) noexcept
{
    if (this != &other) {
        reset();
        m_handle = std::exchange(other.m_handle, ModuleHandle());
    }
    return *this;
}

void Module::reset()
{
    if (m_handle.isValid())
        (void)freeLibrary(std::exchange(m_handle, ModuleHandle()));
}

} // namespace platform::modules
