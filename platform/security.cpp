#include "platform/security.h"

#include "platform/config.h"
#include "platform/store_p.h"
#include "platform/text.h"

#include <atomic>

namespace platform::security {

// The machine's users live in its configuration:
//   "user.current"      the name of the user the programs run as
//   "user.<name>.role"  "administrator" or "standard", one per known user
// User names compare without regard to case, as the platform's accounts do.

namespace {

constexpr std::string_view CurrentUserSetting = "user.current";
constexpr std::string_view UserPrefix = "user.";
constexpr std::string_view RoleSuffix = ".role";
constexpr std::string_view AdministratorRole = "administrator";
constexpr std::string_view StandardRole = "standard";

// The platform's user names are at most this long; the characters below
// are the ones its accounts refuse.
constexpr size_t MaxUserNameLength = 104;
constexpr std::u16string_view ForbiddenCharacters = u"\"/\\[]:;|=,+*?<>";

std::atomic<bool> elevated { false };

Account defaultAccount()
{
    return { u"Owner", machine::UserRole::Administrator };
}

std::string roleSetting(std::string_view userName)
{
    return std::string(UserPrefix) + std::string(userName) + std::string(RoleSuffix);
}

machine::UserRole parseRole(const std::optional<std::string>& role)
{
    // A user without a recorded role is the machine's owner, as on a fresh machine.
    return role && *role == StandardRole ? machine::UserRole::StandardUser : machine::UserRole::Administrator;
}

bool isValidUserName(std::u16string_view name)
{
    if (name.empty() || name.size() > MaxUserNameLength)
        return false;
    for (char16_t unit : name) {
        if (unit < 0x20 || unit == 0x7F || ForbiddenCharacters.find(unit) != std::u16string_view::npos)
            return false;
        if (unit >= 0xD800 && unit <= 0xDFFF)
            return false;
    }
    // NOTE: a name of blanks or dots only cannot be told from no name in a
    // path, which the user's profile folder is named by.
    return name.find_first_not_of(u" .") != std::u16string_view::npos;
}

// The current user as the store records it; an error when it cannot be read.
Result<Account> readCurrentUser()
{
    Account account = defaultAccount();
    auto status = store::transact(store::Mode::Read, [&]() -> Status {
        account = defaultAccount();
        auto name = config::get(CurrentUserSetting);
        if (!name)
            return {};
        account.name = text::toUtf16(*name);
        account.role = parseRole(config::get(roleSetting(*name)));
        return {};
    });
    if (!status)
        return status.error();
    return account;
}

} // namespace

Account currentUser()
{
    return readCurrentUser().valueOr(defaultAccount());
}

std::vector<Account> users()
{
    std::vector<Account> accounts;
    for (auto& [setting, role] : config::list(UserPrefix)) {
        std::string_view name(setting);
        if (name.size() <= UserPrefix.size() + RoleSuffix.size() || !name.ends_with(RoleSuffix))
            continue;
        name = name.substr(UserPrefix.size(), name.size() - UserPrefix.size() - RoleSuffix.size());
        accounts.push_back({ text::toUtf16(name), parseRole(role) });
    }
    return accounts;
}

Status setCurrentUser(const Account& account)
{
    if (!isValidUserName(account.name))
        return Error::InvalidName;
    std::string name = text::toUtf8(account.name);
    return store::transact(store::Mode::Write, [&]() -> Status {
        // One account per name whatever its case: the new spelling replaces
        // an old one.
        for (const auto& known : users()) {
            if (known.name != account.name && text::equalsIgnoreCase(known.name, account.name))
                TRY_STATUS(config::erase(roleSetting(text::toUtf8(known.name))));
        }
        auto role = account.role == machine::UserRole::Administrator ? AdministratorRole : StandardRole;
        TRY_STATUS(config::set(roleSetting(name), role));
        return config::set(CurrentUserSetting, name);
    });
}

std::vector<std::u16string> tokenGroups()
{
    std::vector<std::u16string> groups { std::u16string(UsersGroup) };
    if (isAdministrator())
        groups.emplace_back(AdministratorsGroup);
    return groups;
}

bool isAdministrator()
{
    if (elevated.load(std::memory_order_relaxed))
        return true;
    // NOTE: a store that cannot be read grants nothing, whatever the
    // default user would be.
    auto user = readCurrentUser();
    return user && user->role == machine::UserRole::Administrator;
}

void runElevated()
{
    elevated.store(true, std::memory_order_relaxed);
}

} // namespace platform::security
