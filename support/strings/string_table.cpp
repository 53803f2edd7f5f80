#include "support/strings/string_table.h"

#include "support/strings/string_table_p.h"

#include <algorithm>

namespace strings {

namespace {

const detail::LanguageTable* findLanguage(uint16_t languageId)
{
    auto tables = detail::languageTables();
    auto found = std::lower_bound(tables.begin(), tables.end(), languageId,
        [](const detail::LanguageTable& table, uint16_t wanted) { return table.languageId < wanted; });
    if (found == tables.end() || found->languageId != languageId)
        return nullptr;
    return &*found;
}

std::optional<std::u16string_view> findIn(const detail::LanguageTable& table, uint32_t id)
{
    auto found = std::lower_bound(table.entries.begin(), table.entries.end(), id,
        [](const detail::Entry& entry, uint32_t wanted) { return entry.id < wanted; });
    if (found == table.entries.end() || found->id != id)
        return std::nullopt;
    return found->text;
}

} // namespace

std::optional<std::u16string_view> find(uint32_t id, uint16_t languageId)
{
    const auto* table = findLanguage(languageId);
    if (!table)
        return std::nullopt;
    return findIn(*table, id);
}

uint16_t resolveLanguage(uint16_t languageId)
{
    return findLanguage(languageId) ? languageId : fallbackLanguage;
}

uint32_t copyString(uint32_t id, uint16_t languageId, std::span<char16_t, bufferUnits> buffer)
{
    std::u16string_view text = find(id, resolveLanguage(languageId)).value_or(std::u16string_view {});
    // NOTE: every text of the table fits (the generator refuses longer ones);
    // the cut only guards the buffer should that rule ever be loosened.
    size_t units = std::min(text.size(), bufferUnits - 1);
    std::copy_n(text.begin(), units, buffer.begin());
    buffer[units] = u'\0';
    return static_cast<uint32_t>(units);
}

uint32_t copyString(uint32_t id, uint16_t languageId, char16_t* buffer)
{
    return copyString(id, languageId, std::span<char16_t, bufferUnits>(buffer, bufferUnits));
}

std::span<const uint16_t> languages()
{
    return detail::languageIds();
}

std::span<const uint32_t> ids()
{
    return detail::stringIds();
}

} // namespace strings
