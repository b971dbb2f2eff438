#include "res/uilanguage.h"

#include <atomic>
#include <cstdlib>

namespace veltrano {
namespace {

std::atomic<UiLanguage> g_language{UiLanguage::TraditionalChinese};

// The language part of a locale name: "en" of "en_US.UTF-8@euro".
std::string_view languagePart(std::string_view name)
{
    return name.substr(0, name.find_first_of("_.@-"));
}

} // namespace

std::optional<UiLanguage> languageOfName(std::string_view name)
{
    const std::string_view language = languagePart(name);
    if (language == "en")
        return UiLanguage::English;
    if (language == "zh")
        return UiLanguage::TraditionalChinese;
    return std::nullopt;
}

std::optional<UiLanguage> chooseUiLanguage(
        std::string_view option, const std::function<const char *(const char *)> &getenv)
{
    const auto env = [&getenv](const char *name) -> std::string_view {
        const char *value = getenv ? getenv(name) : std::getenv(name);
        return value ? std::string_view(value) : std::string_view();
    };
    if (!option.empty())
        return languageOfName(option);
    // A desktop entry has no terminal to complain to: a variable that names no language we
    // speak is passed over, not fatal.
    if (const auto asked = languageOfName(env("VELTRANO_LANG")))
        return asked;
    for (const char *category : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const std::string_view locale = env(category);
        if (locale.empty())
            continue;
        return languageOfName(locale) == UiLanguage::English ? UiLanguage::English
                                                             : UiLanguage::TraditionalChinese;
    }
    return UiLanguage::TraditionalChinese;
}

void setUiLanguage(UiLanguage language)
{
    g_language.store(language, std::memory_order_relaxed);
}

UiLanguage uiLanguage()
{
    return g_language.load(std::memory_order_relaxed);
}

} // namespace veltrano
