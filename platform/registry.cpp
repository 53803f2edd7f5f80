#include "platform/registry.h"

#include "platform/security.h"
#include "platform/store_p.h"
#include "platform/text.h"

#include <array>
#include <cstring>
#include <optional>

namespace platform::registry {

// Builds Key objects, whose fields only the registry sets.
struct KeyFactory {
    static Key make(Root root, std::u16string_view path, Access access)
    {
        Key key;
        key.m_root = root;
        key.m_path = std::u16string(path);
        key.m_access = access;
        return key;
    }
};

namespace {

// The platform's limits on names: 255 units for a key name, 16383 for a
// value name.
constexpr size_t MaxKeyNameLength = 255;
constexpr size_t MaxValueNameLength = 16383;

using Segments = std::vector<std::u16string_view>;

// Whether a name holds only units that survive the store's UTF-8 text
// unchanged: no terminator inside it and no unpaired surrogate.
bool isStorableName(std::u16string_view name)
{
    for (size_t i = 0; i < name.size(); ++i) {
        char16_t unit = name[i];
        if (unit == u'\0')
            return false;
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            if (i + 1 >= name.size() || name[i + 1] < 0xDC00 || name[i + 1] > 0xDFFF)
                return false;
            ++i;
        } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
            return false;
        }
    }
    return true;
}

// Drops one trailing backslash, which the platform tolerates.
std::u16string_view trimPath(std::u16string_view path)
{
    if (!path.empty() && path.back() == u'\\')
        path.remove_suffix(1);
    return path;
}

// "Software\Tavio" -> { "Software", "Tavio" }. A leading backslash or an
// empty name inside the path is 161; a name too long or unstorable is 87.
Result<Segments> splitPath(std::u16string_view path)
{
    Segments segments;
    path = trimPath(path);
    if (path.empty())
        return segments;
    size_t start = 0;
    for (;;) {
        size_t end = path.find(u'\\', start);
        auto name = path.substr(start, end == std::u16string_view::npos ? std::u16string_view::npos : end - start);
        if (name.empty())
            return Error::BadPathname;
        if (name.size() > MaxKeyNameLength || !isStorableName(name))
            return Error::InvalidParameter;
        segments.push_back(name);
        if (end == std::u16string_view::npos)
            return segments;
        start = end + 1;
    }
}

Status checkValueName(std::u16string_view name)
{
    if (name.size() > MaxValueNameLength || !isStorableName(name))
        return Error::InvalidParameter;
    return {};
}

std::string folded(std::u16string_view name)
{
    return text::toUtf8(text::foldCase(name));
}

std::optional<int64_t> findChild(int64_t parent, std::u16string_view name)
{
    store::Statement find("SELECT id FROM keys WHERE parent = ?1 AND folded = ?2");
    find.bind(1, parent).bind(2, folded(name));
    if (!find.next())
        return std::nullopt;
    return find.integer(0);
}

std::optional<int64_t> makeChild(int64_t parent, std::u16string_view name)
{
    store::Statement make("INSERT INTO keys (parent, name, folded) VALUES (?1, ?2, ?3) RETURNING id");
    make.bind(1, parent).bind(2, text::toUtf8(name)).bind(3, folded(name));
    if (!make.next())
        return std::nullopt;
    return make.integer(0);
}

// The key a root names. HKEY_CURRENT_USER is the current user's hive, made
// here when `create` asks for it.
Result<int64_t> rootKey(Root root, bool create)
{
    auto machine = findChild(0, root == Root::LocalMachine ? u"HKEY_LOCAL_MACHINE" : u"HKEY_USERS");
    if (!machine)
        return Error::FileNotFound;
    if (root != Root::CurrentUser)
        return *machine;
    std::u16string user = security::currentUser().name;
    if (auto hive = findChild(*machine, user))
        return *hive;
    if (!create)
        return Error::FileNotFound;
    if (auto hive = makeChild(*machine, user))
        return *hive;
    return store::lastError();
}

struct Resolved {
    int64_t id { 0 };
    bool created { false }; // the last key of the path was made by this call
};

// Finds the key of a path below a root, making missing keys when `create`.
// Only inside a store transaction.
Result<Resolved> resolve(Root root, const Segments& segments, bool create)
{
    TRY_RESULT(id, rootKey(root, create));
    Resolved resolved { id, false };
    for (auto name : segments) {
        if (auto child = findChild(resolved.id, name)) {
            resolved = { *child, false };
            continue;
        }
        if (!create)
            return Error::FileNotFound;
        auto made = makeChild(resolved.id, name);
        if (!made)
            return store::lastError();
        resolved = { *made, true };
    }
    return resolved;
}

// Whether the calling process may change keys there. Everyone writes their
// own hive; HKEY_LOCAL_MACHINE and other users' hives take an administrator.
bool mayWrite(Root root, const Segments& segments)
{
    if (security::isAdministrator())
        return true;
    switch (root) {
    case Root::CurrentUser:
        return true;
    case Root::Users:
        return !segments.empty() && text::equalsIgnoreCase(segments.front(), security::currentUser().name);
    case Root::LocalMachine:
        break;
    }
    return false;
}

// Runs `work` on the key that `key` names, inside one transaction.
template <typename Work> Status onKey(const Key& key, store::Mode mode, Work&& work)
{
    TRY_RESULT(segments, splitPath(key.path()));
    return store::transact(mode, [&]() -> Status {
        TRY_RESULT(resolved, resolve(key.root(), segments, false));
        return work(resolved.id);
    });
}

Status checkWrite(const Key& key)
{
    if (key.access() != Access::Write)
        return Error::AccessDenied;
    TRY_RESULT(segments, splitPath(key.path()));
    if (!mayWrite(key.root(), segments))
        return Error::AccessDenied;
    return {};
}

std::vector<std::u16string> listNames(const Key& key, const char* sql)
{
    std::vector<std::u16string> names;
    auto status = onKey(key, store::Mode::Read, [&](int64_t id) -> Status {
        names.clear();
        store::Statement list(sql);
        list.bind(1, id);
        while (list.next())
            names.push_back(text::toUtf16(list.text(0)));
        return {};
    });
    if (!status)
        names.clear();
    return names;
}

} // namespace

Result<Key> openKey(Root root, std::u16string_view path, Access access)
{
    TRY_RESULT(segments, splitPath(path));
    // The current user's own hive always opens; it is made on first use.
    bool makeHive = root == Root::CurrentUser && segments.empty();
    auto status = store::transact(makeHive ? store::Mode::Write : store::Mode::Read, [&]() -> Status {
        auto resolved = resolve(root, segments, makeHive);
        return resolved ? Status() : Status(resolved.error());
    });
    if (!status)
        return status.error();
    if (access == Access::Write && !mayWrite(root, segments))
        return Error::AccessDenied;
    return KeyFactory::make(root, trimPath(path), access);
}

Result<CreatedKey> createKey(Root root, std::u16string_view path, Access access)
{
    TRY_RESULT(segments, splitPath(path));
    if (!mayWrite(root, segments)) {
        // Opening an existing key to read needs no right to create it.
        if (access == Access::Read) {
            auto existing = openKey(root, path, Access::Read);
            if (existing)
                return CreatedKey { std::move(existing).value(), Disposition::OpenedExisting };
        }
        return Error::AccessDenied;
    }
    Resolved resolved;
    auto status = store::transact(store::Mode::Write, [&]() -> Status {
        TRY_RESULT(made, resolve(root, segments, true));
        resolved = made;
        return {};
    });
    if (!status)
        return status.error();
    return CreatedKey { KeyFactory::make(root, trimPath(path), access),
        resolved.created ? Disposition::Created : Disposition::OpenedExisting };
}

Result<Value> getValue(const Key& key, std::u16string_view name)
{
    TRY_STATUS(checkValueName(name));
    Value value;
    auto status = onKey(key, store::Mode::Read, [&](int64_t id) -> Status {
        store::Statement query("SELECT type, data FROM reg_values WHERE key = ?1 AND folded = ?2");
        query.bind(1, id).bind(2, folded(name));
        if (!query.next())
            return Error::FileNotFound;
        value.type = static_cast<ValueType>(query.integer(0));
        value.data = query.blob(1);
        return {};
    });
    if (!status)
        return status.error();
    return value;
}

Status queryValue(const Key& key, std::u16string_view name, ValueType* type, void* data, uint32_t* size)
{
    if (data && !size)
        return Error::InvalidParameter;
    TRY_RESULT(value, getValue(key, name));
    auto needed = static_cast<uint32_t>(value.data.size());
    if (type)
        *type = value.type;
    if (data) {
        if (*size < needed) {
            *size = needed;
            return Error::MoreData;
        }
        if (needed > 0)
            std::memcpy(data, value.data.data(), needed);
    }
    if (size)
        *size = needed;
    return {};
}

Result<std::u16string> getString(const Key& key, std::u16string_view name)
{
    TRY_RESULT(value, getValue(key, name));
    if (value.type != ValueType::String && value.type != ValueType::ExpandString)
        return Error::InvalidData;
    std::u16string text;
    for (size_t i = 0; i + 1 < value.data.size(); i += 2) {
        auto unit = static_cast<char16_t>(
            std::to_integer<uint16_t>(value.data[i]) | (std::to_integer<uint16_t>(value.data[i + 1]) << 8));
        // The text ends at its terminator; a value stored without one ends
        // with its data.
        if (unit == u'\0')
            break;
        text.push_back(unit);
    }
    return text;
}

Result<uint32_t> getDword(const Key& key, std::u16string_view name)
{
    TRY_RESULT(value, getValue(key, name));
    if (value.type != ValueType::Dword || value.data.size() != 4)
        return Error::InvalidData;
    uint32_t number = 0;
    for (size_t i = 0; i < 4; ++i)
        number |= std::to_integer<uint32_t>(value.data[i]) << (8 * i);
    return number;
}

Status setValue(const Key& key, std::u16string_view name, ValueType type, std::span<const std::byte> data)
{
    TRY_STATUS(checkWrite(key));
    TRY_STATUS(checkValueName(name));
    if ((type == ValueType::Dword && data.size() != 4) || (type == ValueType::Qword && data.size() != 8))
        return Error::InvalidParameter;
    return onKey(key, store::Mode::Write, [&](int64_t id) -> Status {
        // Overwriting keeps the name's first spelling and its place in the list.
        store::Statement upsert("INSERT INTO reg_values (key, name, folded, type, data) VALUES (?1, ?2, ?3, ?4, ?5) "
                                "ON CONFLICT (key, folded) DO UPDATE SET type = excluded.type, data = excluded.data");
        upsert.bind(1, id).bind(2, text::toUtf8(name)).bind(3, folded(name));
        upsert.bind(4, static_cast<int64_t>(type)).bind(5, data);
        return upsert.run();
    });
}

Status setString(const Key& key, std::u16string_view name, std::u16string_view text)
{
    std::vector<std::byte> data;
    data.reserve((text.size() + 1) * 2);
    for (char16_t unit : text) {
        data.push_back(static_cast<std::byte>(unit & 0xFF));
        data.push_back(static_cast<std::byte>(unit >> 8));
    }
    data.push_back(std::byte { 0 });
    data.push_back(std::byte { 0 });
    return setValue(key, name, ValueType::String, data);
}

Status setDword(const Key& key, std::u16string_view name, uint32_t value)
{
    std::array<std::byte, 4> data;
    for (size_t i = 0; i < 4; ++i)
        data[i] = static_cast<std::byte>((value >> (8 * i)) & 0xFF);
    return setValue(key, name, ValueType::Dword, data);
}

Status deleteValue(const Key& key, std::u16string_view name)
{
    TRY_STATUS(checkWrite(key));
    TRY_STATUS(checkValueName(name));
    return onKey(key, store::Mode::Write, [&](int64_t id) -> Status {
        store::Statement erase("DELETE FROM reg_values WHERE key = ?1 AND folded = ?2 RETURNING 1");
        erase.bind(1, id).bind(2, folded(name));
        bool deleted = false;
        while (erase.next())
            deleted = true;
        return deleted ? Status() : Status(Error::FileNotFound);
    });
}

Status deleteTree(Root root, std::u16string_view path)
{
    TRY_RESULT(segments, splitPath(path));
    // The roots and the current user's hive are never deleted.
    if (segments.empty())
        return Error::InvalidParameter;
    if (!mayWrite(root, segments))
        return Error::AccessDenied;
    return store::transact(store::Mode::Write, [&]() -> Status {
        TRY_RESULT(resolved, resolve(root, segments, false));
        store::Statement values("WITH RECURSIVE tree (id) AS (SELECT ?1 UNION ALL "
                                "SELECT keys.id FROM keys JOIN tree ON keys.parent = tree.id) "
                                "DELETE FROM reg_values WHERE key IN tree");
        values.bind(1, resolved.id);
        TRY_STATUS(values.run());
        store::Statement keys("WITH RECURSIVE tree (id) AS (SELECT ?1 UNION ALL "
                              "SELECT keys.id FROM keys JOIN tree ON keys.parent = tree.id) "
                              "DELETE FROM keys WHERE id IN tree");
        keys.bind(1, resolved.id);
        return keys.run();
    });
}

std::vector<std::u16string> subkeys(const Key& key)
{
    return listNames(key, "SELECT name FROM keys WHERE parent = ?1 ORDER BY folded");
}

std::vector<std::u16string> valueNames(const Key& key)
{
    return listNames(key, "SELECT name FROM reg_values WHERE key = ?1 ORDER BY rowid");
}

Result<std::pair<Root, std::u16string>> parseKeyName(std::u16string_view fullName)
{
    struct RootName {
        std::u16string_view name;
        Root root;
    };
    static constexpr RootName rootNames[] = {
        { u"HKLM", Root::LocalMachine },
        { u"HKEY_LOCAL_MACHINE", Root::LocalMachine },
        { u"HKCU", Root::CurrentUser },
        { u"HKEY_CURRENT_USER", Root::CurrentUser },
        { u"HKU", Root::Users },
        { u"HKEY_USERS", Root::Users },
    };
    size_t split = fullName.find(u'\\');
    auto rootPart = fullName.substr(0, split);
    auto rest = split == std::u16string_view::npos ? std::u16string_view() : fullName.substr(split + 1);
    for (const auto& candidate : rootNames) {
        if (text::equalsIgnoreCase(rootPart, candidate.name))
            return std::pair { candidate.root, std::u16string(trimPath(rest)) };
    }
    return Error::InvalidParameter;
}

} // namespace platform::registry
