#pragma once

#include "platform/result.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

namespace platform::modules {

// Dynamic libraries, loaded by their Windows file names and bound by export
// name, as the programs load the support library, the vendor display library
// and the session library.

// A loaded library in the calling process. The value is the same for every
// load of one file within a process (and for every copy of this code linked
// into the process), and means nothing in another process.
class ModuleHandle {
public:
    constexpr ModuleHandle() = default;
    constexpr explicit ModuleHandle(uintptr_t value)
        : m_value(value)
    { }
    constexpr uintptr_t value() const { return m_value; }
    constexpr bool isValid() const { return m_value != 0; }
    // The form a library's start-up function receives.
    void* pointer() const { return reinterpret_cast<void*>(m_value); }
    friend constexpr bool operator==(ModuleHandle, ModuleHandle) = default;

private:
    uintptr_t m_value { 0 };
};

// Loads a library, or counts one more reference to it when the process has
// it already.
//
// A bare file name ("KELTOVDISP.DLL") is looked for in the folder of the
// running program, then in C:\WINDOWS\System32, then in C:\WINDOWS; a path
// ("C:\Program Files\Tavio Menu\TavioSupport.DLL") names the file itself.
// Names match without regard to case; a name without extension gets ".DLL"
// and a trailing dot stands for "no extension", as on the platform.
//
// When the library first comes into the process and exports
//   int32_t DllMain(void* module, uint32_t reason, void* reserved)
// it is called with reason 1 (process attach) and the library's handle
// before this returns; a zero result makes the load fail with 1114, after a
// call with reason 0 (process detach), and unloads the library.
//
// Errors: 126 when no such file is found, 193 when the file is not a library
// that can be loaded, 1114 when its start-up refused, 123/161/206 for a path
// that cannot name a file on drive C:.
Result<ModuleHandle> loadLibrary(std::u16string_view name);

// Drops one reference; the last one calls DllMain with reason 0 (process
// detach) and unloads the library. 6 for a handle this process did not get
// from loadLibrary or whose references are all gone.
Status freeLibrary(ModuleHandle module);

// The address of an export of the library itself (not of the libraries it
// depends on). Names compare exactly. 127 when there is no such export, 6
// for a handle that names no loaded library.
Result<void*> exportAddress(ModuleHandle module, std::string_view name);

// The path the library was loaded from, in the platform's form when it lies
// on drive C: (else the host path). 6 for a handle that names no library.
Result<std::u16string> moduleFileName(ModuleHandle module);

// The library (or program) whose code or data holds `address`: how a library
// finds its own handle. 126 when no loaded object holds it.
Result<ModuleHandle> moduleContaining(const void* address);

// A loaded library, freed when this object ends. Move-only.
class Module {
public:
    Module() = default;
    static Result<Module> load(std::u16string_view name);

    Module(Module&& other) noexcept
        : m_handle(std::exchange(other.m_handle, ModuleHandle()))
    { }
    Module& operator=(Module&& other) noexcept;
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;
    ~Module() { reset(); }

    bool isLoaded() const { return m_handle.isValid(); }
    ModuleHandle handle() const { return m_handle; }
    // Frees the library now (when loaded).
    void reset();
    // Gives up ownership without freeing: the library stays loaded.
    ModuleHandle release() { return std::exchange(m_handle, ModuleHandle()); }

    // An export as a function pointer type, e.g.
    //   module.symbol<int32_t (*)(int32_t)>("RotateScreen")
    template <typename Function> Result<Function> symbol(std::string_view name) const
    {
        static_assert(std::is_pointer_v<Function> && std::is_function_v<std::remove_pointer_t<Function>>,
            "symbol<T> takes a function pointer type");
        auto address = exportAddress(m_handle, name);
        if (!address)
            return address.error();
        return reinterpret_cast<Function>(address.value());
    }

    Result<std::u16string> fileName() const { return moduleFileName(m_handle); }

private:
    explicit Module(ModuleHandle handle)
        : m_handle(handle)
    { }
    ModuleHandle m_handle;
};

} // namespace platform::modules
