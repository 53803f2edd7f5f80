#pragma once

#include "platform/result.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace platform::registry {

// The machine's registry, kept in an embedded SQLite store in the machine
// folder so that every process of the machine sees the same keys. Key and
// value names compare without regard to letter case and keep the case they
// were created with. A single value write is atomic.

enum class Root {
    LocalMachine, // HKEY_LOCAL_MACHINE
    CurrentUser, // HKEY_CURRENT_USER: the current user's hive under HKEY_USERS
    Users, // HKEY_USERS: paths start with the user name
};

// The platform's value types, with their numbers.
enum class ValueType : uint32_t {
    None = 0,
    String = 1, // REG_SZ: UTF-16LE with its terminator
    ExpandString = 2, // REG_EXPAND_SZ
    Binary = 3, // REG_BINARY
    Dword = 4, // REG_DWORD, little-endian
    MultiString = 7, // REG_MULTI_SZ
    Qword = 11, // REG_QWORD
};

enum class Access {
    Read, // KEY_READ
    Write, // KEY_WRITE / KEY_ALL_ACCESS
};

// An open key. Holds no host resource; it names the key and the access it
// was opened with.
class Key {
public:
    Root root() const { return m_root; }
    const std::u16string& path() const { return m_path; }
    Access access() const { return m_access; }

private:
    friend Result<Key> openKey(Root, std::u16string_view, Access);
    friend struct KeyFactory;
    Root m_root { Root::LocalMachine };
    std::u16string m_path;
    Access m_access { Access::Read };
};

struct CreatedKey {
    Key key;
    Disposition disposition;
};

// Opens an existing key: 2 when missing; 5 when a standard user asks for
// write access under HKEY_LOCAL_MACHINE.
Result<Key> openKey(Root root, std::u16string_view path, Access access);
// Creates the key and its missing parents, or opens it: 5 for a standard user
// under HKEY_LOCAL_MACHINE (nothing is created).
Result<CreatedKey> createKey(Root root, std::u16string_view path, Access access = Access::Write);

struct ValueInfo {
    ValueType type { ValueType::None };
    uint32_t size { 0 }; // bytes
};

// Queries a value with the platform's caller-buffer rules: `size` holds the
// buffer's capacity in bytes on entry and the value's size on return. With
// data == nullptr only type and size are reported. When the buffer is too
// small the result is 234 and `size` tells what is needed; the buffer is not
// written. 2 when the key was deleted or the value is missing.
Status queryValue(const Key& key, std::u16string_view name, ValueType* type, void* data, uint32_t* size);

// The whole value, for code that owns no fixed buffer.
struct Value {
    ValueType type { ValueType::None };
    std::vector<std::byte> data;
};
Result<Value> getValue(const Key& key, std::u16string_view name);
Result<std::u16string> getString(const Key& key, std::u16string_view name);
Result<uint32_t> getDword(const Key& key, std::u16string_view name);

// Sets a value: 5 when the key was opened for reading or the caller may not
// write there. A REG_DWORD must be 4 bytes (87 otherwise).
Status setValue(const Key& key, std::u16string_view name, ValueType type, std::span<const std::byte> data);
Status setString(const Key& key, std::u16string_view name, std::u16string_view text);
Status setDword(const Key& key, std::u16string_view name, uint32_t value);

Status deleteValue(const Key& key, std::u16string_view name);
// Deletes a key with everything below it (the machine tool's "reg delete").
Status deleteTree(Root root, std::u16string_view path);

std::vector<std::u16string> subkeys(const Key& key);
std::vector<std::u16string> valueNames(const Key& key);

// "HKLM\Software\X", "HKEY_CURRENT_USER\Software" -> root and path; 87 when
// the root is not one of the names above.
Result<std::pair<Root, std::u16string>> parseKeyName(std::u16string_view fullName);

} // namespace platform::registry
