#include "tools/machine_commands.h"

#include "tools/registry_data.h"

#include "platform/registry.h"
#include "platform/text.h"

#include <optional>
#include <variant>

namespace tools {

namespace {

using platform::registry::Access;
using platform::registry::Root;
using platform::registry::ValueType;

std::string rootName(Root root)
{
    switch (root) {
    case Root::LocalMachine:
        return "HKEY_LOCAL_MACHINE";
    case Root::CurrentUser:
        return "HKEY_CURRENT_USER";
    case Root::Users:
        return "HKEY_USERS";
    }
    return "HKEY_UNKNOWN";
}

std::string fullKeyName(Root root, std::u16string_view path)
{
    std::string name = rootName(root);
    if (!path.empty())
        name += "\\" + platform::text::toUtf8(path);
    return name;
}

// One value as "reg query" lists it: name, type and data.
void printValue(const Console& console, std::u16string_view name, const platform::registry::Value& value)
{
    console.out << "    " << (name.empty() ? std::string("(Default)") : platform::text::toUtf8(name)) << "    "
                << typeName(value.type) << "    " << formatData(value) << '\n';
}

struct KeyName {
    Root root;
    std::u16string path;
    std::string display;
};

std::optional<KeyName> parseKey(const Console& console, std::string_view verb, const std::string& text)
{
    auto parsed = platform::registry::parseKeyName(platform::text::toUtf16(text));
    if (!parsed) {
        fail(console, ExitUsage,
            "reg " + std::string(verb) + ": '" + text
                + "' is not a key name; start it with HKLM, HKCU or HKU (e.g. HKLM\\Software)");
        return std::nullopt;
    }
    auto [root, path] = std::move(parsed).value();
    return KeyName { root, path, fullKeyName(root, path) };
}

int queryCommand(const Console& console, std::span<const std::string> args)
{
    if (args.empty() || args.size() > 2)
        return fail(console, ExitUsage, "reg query: expected KEY [VALUE]");
    auto name = parseKey(console, "query", args[0]);
    if (!name)
        return ExitUsage;
    auto key = platform::registry::openKey(name->root, name->path, Access::Read);
    if (!key)
        return fail(console, ExitFailed, "reg query: cannot open " + name->display + ": " + explain(key.error()));

    if (args.size() == 2) {
        std::u16string valueName = platform::text::toUtf16(args[1]);
        auto value = platform::registry::getValue(*key, valueName);
        if (!value)
            return fail(console, ExitFailed,
                "reg query: cannot read value '" + args[1] + "' of " + name->display + ": " + explain(value.error()));
        console.out << name->display << '\n';
        printValue(console, valueName, *value);
        return ExitSuccess;
    }

    console.out << name->display << '\n';
    for (const auto& valueName : platform::registry::valueNames(*key)) {
        // A value deleted by another process between the listing and the read
        // is simply left out.
        if (auto value = platform::registry::getValue(*key, valueName))
            printValue(console, valueName, *value);
    }
    auto children = platform::registry::subkeys(*key);
    if (!children.empty()) {
        console.out << '\n';
        for (const auto& child : children)
            console.out << name->display << '\\' << platform::text::toUtf8(child) << '\n';
    }
    return ExitSuccess;
}

int addCommand(const Console& console, std::span<const std::string> args)
{
    if (args.size() != 1 && args.size() != 4)
        return fail(console, ExitUsage, "reg add: expected KEY, or KEY VALUE TYPE DATA");
    auto name = parseKey(console, "add", args[0]);
    if (!name)
        return ExitUsage;

    std::vector<std::byte> bytes;
    ValueType type = ValueType::None;
    if (args.size() == 4) {
        auto parsedType = parseTypeName(args[2]);
        if (!parsedType)
            return fail(console, ExitUsage,
                "reg add: unknown type '" + args[2]
                    + "'; use REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD, REG_QWORD or REG_BINARY");
        type = *parsedType;
        auto encoded = encodeData(type, args[3]);
        if (auto* message = std::get_if<std::string>(&encoded))
            return fail(console, ExitUsage, "reg add: " + *message);
        bytes = std::get<std::vector<std::byte>>(std::move(encoded));
    }

    auto created = platform::registry::createKey(name->root, name->path, Access::Write);
    if (!created)
        return fail(console, ExitFailed, "reg add: cannot open " + name->display + ": " + explain(created.error()));
    if (args.size() == 4) {
        auto status = platform::registry::setValue(created->key, platform::text::toUtf16(args[1]), type, bytes);
        if (!status)
            return fail(console, ExitFailed,
                "reg add: cannot write value '" + args[1] + "' of " + name->display + ": " + explain(status.error()));
    }
    console.out << "The operation completed successfully.\n";
    return ExitSuccess;
}

int deleteCommand(const Console& console, std::span<const std::string> args)
{
    if (args.empty() || args.size() > 2)
        return fail(console, ExitUsage, "reg delete: expected KEY [VALUE]");
    auto name = parseKey(console, "delete", args[0]);
    if (!name)
        return ExitUsage;

    if (args.size() == 1) {
        if (name->path.empty())
            return fail(console, ExitUsage, "reg delete: will not delete the whole of " + name->display);
        auto status = platform::registry::deleteTree(name->root, name->path);
        if (!status)
            return fail(
                console, ExitFailed, "reg delete: cannot delete " + name->display + ": " + explain(status.error()));
    } else {
        auto key = platform::registry::openKey(name->root, name->path, Access::Write);
        if (!key)
            return fail(console, ExitFailed, "reg delete: cannot open " + name->display + ": " + explain(key.error()));
        auto status = platform::registry::deleteValue(*key, platform::text::toUtf16(args[1]));
        if (!status)
            return fail(console, ExitFailed,
                "reg delete: cannot delete value '" + args[1] + "' of " + name->display + ": "
                    + explain(status.error()));
    }
    console.out << "The operation completed successfully.\n";
    return ExitSuccess;
}

} // namespace

int runRegistryCommand(const Console& console, std::span<const std::string> args)
{
    if (args.empty())
        return fail(console, ExitUsage, "reg: expected query, add or delete");
    const std::string& verb = args[0];
    auto rest = args.subspan(1);
    if (verb == "query")
        return queryCommand(console, rest);
    if (verb == "add")
        return addCommand(console, rest);
    if (verb == "delete")
        return deleteCommand(console, rest);
    return fail(console, ExitUsage, "reg: unknown operation '" + verb + "'; expected query, add or delete");
}

} // namespace tools
