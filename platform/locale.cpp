#include "platform/locale.h"

#include "platform/config.h"
#include "platform/security.h"
#include "platform/text.h"

#include <array>
#include <cctype>
#include <charconv>
#include <cstdlib>

namespace platform::locale {

// The current user's language lives in the machine configuration as
// "user.<name>.language", the decimal language id, beside the user's role.

namespace {

struct KnownLanguage {
    std::string_view tag; // "de-DE"
    LanguageId id;
    // The one chosen for the language alone ("de") or with a territory the
    // table does not hold ("de_LU").
    bool languageDefault;
};

constexpr std::array KnownLanguages {
    KnownLanguage { "en-US", 1033, true },
    KnownLanguage { "en-GB", 2057, false },
    KnownLanguage { "en-AU", 3081, false },
    KnownLanguage { "en-CA", 4105, false },
    KnownLanguage { "de-DE", 1031, true },
    KnownLanguage { "de-CH", 2055, false },
    KnownLanguage { "de-AT", 3079, false },
    KnownLanguage { "fr-FR", 1036, true },
    KnownLanguage { "fr-BE", 2060, false },
    KnownLanguage { "fr-CA", 3084, false },
    KnownLanguage { "fr-CH", 4108, false },
    // Spain's modern sort is the platform's default Spanish; the traditional
    // sort (1034) has no locale name of the host and is reached by number.
    KnownLanguage { "es-ES", 3082, true },
    KnownLanguage { "es-ES_tradnl", 1034, false },
    KnownLanguage { "es-MX", 2058, false },
    KnownLanguage { "it-IT", 1040, true },
    KnownLanguage { "nl-NL", 1043, true },
    KnownLanguage { "pt-BR", 1046, true },
    KnownLanguage { "pt-PT", 2070, false },
    KnownLanguage { "ja-JP", 1041, true },
    KnownLanguage { "ko-KR", 1042, true },
    KnownLanguage { "zh-CN", 2052, true },
    KnownLanguage { "zh-TW", 1028, false },
    KnownLanguage { "zh-HK", 3076, false },
    KnownLanguage { "zh-SG", 4100, false },
    KnownLanguage { "zh-MO", 5124, false },
    KnownLanguage { "ru-RU", 1049, true },
    KnownLanguage { "pl-PL", 1045, true },
    KnownLanguage { "sv-SE", 1053, true },
    KnownLanguage { "da-DK", 1030, true },
    KnownLanguage { "fi-FI", 1035, true },
    KnownLanguage { "nb-NO", 1044, true },
    KnownLanguage { "cs-CZ", 1029, true },
    KnownLanguage { "hu-HU", 1038, true },
    KnownLanguage { "tr-TR", 1055, true },
    KnownLanguage { "el-GR", 1032, true },
    KnownLanguage { "he-IL", 1037, true },
    KnownLanguage { "ar-SA", 1025, true },
};

thread_local std::optional<LanguageId> threadChoice;

std::string languageSetting()
{
    return "user." + text::toUtf8(security::currentUser().name) + ".language";
}

std::string lower(std::string_view text)
{
    std::string result(text);
    for (char& c : result)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return result;
}

std::string upper(std::string_view text)
{
    std::string result(text);
    for (char& c : result)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return result;
}

std::optional<LanguageId> parseNumber(std::string_view text)
{
    int base = 10;
    if (text.starts_with("0x") || text.starts_with("0X")) {
        text.remove_prefix(2);
        base = 16;
    }
    uint32_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || value == 0 || value > 0xFFFF)
        return std::nullopt;
    return static_cast<LanguageId>(value);
}

} // namespace

std::optional<LanguageId> languageOfLocaleName(std::string_view localeName)
{
    // "language[_territory][.codeset][@modifier]"; a tag's "-" is taken too.
    std::string_view name = localeName.substr(0, localeName.find_first_of(".@"));
    if (name == "C" || name == "POSIX")
        return EnglishUnitedStates;
    size_t separator = name.find_first_of("_-");
    std::string language = lower(name.substr(0, separator));
    std::string territory = separator == std::string_view::npos ? std::string() : upper(name.substr(separator + 1));
    if (language.empty())
        return std::nullopt;
    std::optional<LanguageId> fallback;
    for (const auto& known : KnownLanguages) {
        std::string_view tag = known.tag;
        std::string_view knownLanguage = tag.substr(0, tag.find('-'));
        if (knownLanguage != language)
            continue;
        if (!territory.empty() && tag.substr(knownLanguage.size() + 1) == territory)
            return known.id;
        if (known.languageDefault)
            fallback = known.id;
    }
    return fallback;
}

std::optional<LanguageId> processLocaleLanguage()
{
    // The first variable set decides, as for the host's own messages.
    for (const char* variable : { "LC_ALL", "LC_MESSAGES", "LANG" }) {
        const char* value = std::getenv(variable);
        if (value && *value)
            return languageOfLocaleName(value);
    }
    return std::nullopt;
}

std::optional<LanguageId> userUiLanguage()
{
    auto value = config::get(languageSetting());
    if (!value)
        return std::nullopt;
    return parseNumber(*value);
}

Status setUserUiLanguage(LanguageId language)
{
    if (language == 0)
        return Error::InvalidParameter;
    return config::set(languageSetting(), std::to_string(language));
}

Status clearUserUiLanguage()
{
    return config::erase(languageSetting());
}

LanguageId threadUiLanguage()
{
    if (threadChoice)
        return *threadChoice;
    if (auto language = userUiLanguage())
        return *language;
    return processLocaleLanguage().value_or(EnglishUnitedStates);
}

Status setThreadUiLanguage(LanguageId language)
{
    if (language == 0)
        return Error::InvalidParameter;
    threadChoice = language;
    return {};
}

void clearThreadUiLanguage()
{
    threadChoice.reset();
}

std::string_view languageTag(LanguageId language)
{
    for (const auto& known : KnownLanguages) {
        if (known.id == language)
            return known.tag;
    }
    return {};
}

std::optional<LanguageId> parseLanguage(std::string_view text)
{
    if (!text.empty() && std::isdigit(static_cast<unsigned char>(text.front())))
        return parseNumber(text);
    for (const auto& known : KnownLanguages) {
        if (text::equalsIgnoreCase(known.tag, text))
            return known.id;
    }
    if (text == "C" || text == "POSIX")
        return EnglishUnitedStates;
    // A locale name must hold only letters and its separators.
    for (char c : text) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '-' && c != '.' && c != '@')
            return std::nullopt;
    }
    return languageOfLocaleName(text);
}

} // namespace platform::locale
