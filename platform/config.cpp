#include "platform/config.h"

#include "platform/store_p.h"

namespace platform::config {

std::optional<std::string> get(std::string_view name)
{
    std::optional<std::string> value;
    auto status = store::transact(store::Mode::Read, [&]() -> Status {
        value.reset();
        store::Statement query("SELECT value FROM config WHERE name = ?1");
        query.bind(1, name);
        if (query.next())
            value = query.text(0);
        return {};
    });
    if (!status)
        return std::nullopt;
    return value;
}

Status set(std::string_view name, std::string_view value)
{
    if (name.empty())
        return Error::InvalidParameter;
    return store::transact(store::Mode::Write, [&]() -> Status {
        store::Statement upsert("INSERT INTO config (name, value) VALUES (?1, ?2) "
                                "ON CONFLICT (name) DO UPDATE SET value = excluded.value");
        upsert.bind(1, name).bind(2, value);
        return upsert.run();
    });
}

Status update(std::string_view name, const std::function<std::string(const std::optional<std::string>&)>& change)
{
    if (name.empty())
        return Error::InvalidParameter;
    // The read joins the write transaction, so nobody writes in between.
    return store::transact(store::Mode::Write, [&]() -> Status { return set(name, change(get(name))); });
}

Status erase(std::string_view name)
{
    return store::transact(store::Mode::Write, [&]() -> Status {
        store::Statement erase("DELETE FROM config WHERE name = ?1 RETURNING 1");
        erase.bind(1, name);
        bool erased = false;
        while (erase.next())
            erased = true;
        return erased ? Status() : Status(Error::FileNotFound);
    });
}

std::vector<std::pair<std::string, std::string>> list(std::string_view prefix)
{
    std::vector<std::pair<std::string, std::string>> settings;
    auto status = store::transact(store::Mode::Read, [&]() -> Status {
        settings.clear();
        // NOTE: a range on the primary key instead of LIKE, whose wildcards
        // and case rules would not match names literally.
        store::Statement query("SELECT name, value FROM config WHERE name >= ?1 ORDER BY name");
        query.bind(1, prefix);
        while (query.next()) {
            std::string name = query.text(0);
            if (name.compare(0, prefix.size(), prefix) != 0)
                break;
            settings.emplace_back(std::move(name), query.text(1));
        }
        return {};
    });
    if (!status)
        settings.clear();
    return settings;
}

} // namespace platform::config
