#pragma once

#include <functional>
#include <optional>
#include <string_view>

namespace veltrano {

// The language the program speaks to its user. Traditional Chinese is the program's own; English
// is offered beside it. Files, the search server's wire and machine-readable output never change
// with it.
enum class UiLanguage {
    TraditionalChinese,
    English
};

// The language a name asks for: "en", "en_US.UTF-8", "zh_TW", "zh" and the like; nothing for a
// name of another language or an empty one.
std::optional<UiLanguage> languageOfName(std::string_view name);

// The language to speak: `option` (a --lang value) when given, else $VELTRANO_LANG when it names
// a language spoken here, else the locale's messages category (the first set of LC_ALL,
// LC_MESSAGES, LANG). Only an English locale turns English on; any other, or none, keeps
// Traditional Chinese. Returns nothing when `option` names a language the program does not
// speak. `getenv` is the environment (tests give their own).
std::optional<UiLanguage> chooseUiLanguage(std::string_view option = {},
        const std::function<const char *(const char *)> &getenv = nullptr);

// The process-wide choice: set once at start-up, before any text is loaded. The string table
// follows it. Traditional Chinese until set.
void setUiLanguage(UiLanguage language);
UiLanguage uiLanguage();

} // namespace veltrano
