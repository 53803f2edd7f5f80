#pragma once

#include "platform/result.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace platform::locale {

// A Windows language identifier: 1033 English (United States), 1031 German...
using LanguageId = uint16_t;

constexpr LanguageId EnglishUnitedStates = 1033;

// The user-interface language of the calling thread, as the platform's
// resource loader picks texts by it. In order: the thread's own choice
// (setThreadUiLanguage), the current user's setting in the machine
// configuration, the process's locale (LC_ALL, else LC_MESSAGES, else LANG),
// and English (United States).
LanguageId threadUiLanguage();

// Sets the calling thread's language until it is cleared or the thread ends.
// 87 for 0, which names no language.
//
// NOTE: the choice belongs to this copy of the platform code. A library that
// carries a copy of its own (TavioSupport.DLL) does not see it; to change the
// language of every part of a process, set the user's language instead.
Status setThreadUiLanguage(LanguageId language);
void clearThreadUiLanguage();

// The current user's language in the machine configuration, when set.
std::optional<LanguageId> userUiLanguage();
// 87 for 0.
Status setUserUiLanguage(LanguageId language);
// 2 when the user had none.
Status clearUserUiLanguage();

// The language a host locale name stands for: "de_DE.UTF-8" -> 1031,
// "pt_BR" -> 1046, "fr" -> 1036, "C" and "POSIX" -> 1033. Nothing for a name
// of an unknown language.
std::optional<LanguageId> languageOfLocaleName(std::string_view localeName);

// The language of the process's locale variables; nothing when none is set
// or the one that counts names an unknown language.
std::optional<LanguageId> processLocaleLanguage();

// The tag of a known language ("de-DE" for 1031), or empty.
std::string_view languageTag(LanguageId language);
// A language written as a number ("1031", "0x407") or a tag or locale name
// ("de-DE", "de_DE", "de"). Nothing when it names no language.
std::optional<LanguageId> parseLanguage(std::string_view text);

} // namespace platform::locale
