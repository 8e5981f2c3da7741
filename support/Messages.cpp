#include "support/Messages.h"

#include <libintl.h>
#include <unistd.h>

#include <atomic>
#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <mutex>

#ifndef QUORLIN_CATALOGS_FROM_BIN
#define QUORLIN_CATALOGS_FROM_BIN "../share/locale"
#endif

namespace quorlin {

namespace {

constexpr const char* Domain = "quorlin";

std::atomic<TLanguage> SpokenLanguage{TLanguage::English};
std::mutex FolderLock;
std::string& FolderSpoken()
{
    static std::string folder;
    return folder;
}

bool StartsWith(std::string_view text, std::string_view start) { return text.substr(0, start.size()) == start; }

bool IsChineseName(std::string_view locale) { return StartsWith(locale, "zh"); }

// English is the language the program is written in: asking for it needs no catalog.
bool IsEnglishName(std::string_view locale)
{
    return locale == "en" || StartsWith(locale, "en_") || StartsWith(locale, "en.") || StartsWith(locale, "en@");
}

// A locale of messages that some system has, so that LANGUAGE counts: the C library ignores it
// under "C" alone.
void SelectMessagesLocale()
{
    for (const char* name : {"C.UTF-8", "C.utf8"})
        if (std::setlocale(LC_MESSAGES, name)) return;
}

}  // namespace

const char* Tr(const char* english) noexcept
{
    if (SpokenLanguage.load(std::memory_order_relaxed) == TLanguage::English || !english || !*english) return english;
    return ::dgettext(Domain, english);
}

const char* TrPlural(const char* singular, const char* plural, unsigned long count) noexcept
{
    if (SpokenLanguage.load(std::memory_order_relaxed) == TLanguage::English) return count == 1 ? singular : plural;
    return ::dngettext(Domain, singular, plural, count);
}

std::string FormatMessage(std::string_view pattern, std::initializer_list<TMessageArg> values)
{
    std::string out;
    out.reserve(pattern.size() + 16 * values.size());
    std::size_t i = 0;
    while (i < pattern.size()) {
        const char c = pattern[i];
        if (c != '%') {
            out.push_back(c);
            ++i;
            continue;
        }
        if (i + 1 < pattern.size() && pattern[i + 1] == '%') {
            out.push_back('%');
            i += 2;
            continue;
        }
        // %N$s: digits, a dollar sign, an s.
        std::size_t j = i + 1;
        std::size_t n = 0;
        while (j < pattern.size() && pattern[j] >= '0' && pattern[j] <= '9' && n <= values.size()) {
            n = n * 10 + static_cast<std::size_t>(pattern[j] - '0');
            ++j;
        }
        const bool placeholder = j > i + 1 && j + 1 < pattern.size() && pattern[j] == '$' && pattern[j + 1] == 's';
        if (placeholder && n >= 1 && n <= values.size()) {
            out += (values.begin() + (n - 1))->Text();
            i = j + 2;
        } else {
            out.push_back(c);  // shown as written
            ++i;
        }
    }
    return out;
}

TLanguage LanguageAsked(const std::function<const char*(const char*)>& variable)
{
    auto value = [&](const char* name) -> std::string_view {
        const char* v = variable(name);
        return v ? std::string_view(v) : std::string_view();
    };
    std::string_view locale = value("LC_ALL");
    if (locale.empty()) locale = value("LC_MESSAGES");
    if (locale.empty()) locale = value("LANG");
    if (locale.empty() || locale == "C" || locale == "POSIX") return TLanguage::English;
    std::string_view preferences = value("LANGUAGE");
    while (!preferences.empty()) {
        const std::size_t colon = preferences.find(':');
        const std::string_view entry = preferences.substr(0, colon);
        preferences = colon == std::string_view::npos ? std::string_view() : preferences.substr(colon + 1);
        if (entry == "C" || entry == "POSIX" || IsEnglishName(entry)) return TLanguage::English;
        if (IsChineseName(entry)) return TLanguage::Chinese;
        // Another language: no catalog of ours, so the next preference is tried.
    }
    // Preferences were listed and none is ours: the program's own English, as gettext would.
    if (!value("LANGUAGE").empty()) return TLanguage::English;
    return IsChineseName(locale) ? TLanguage::Chinese : TLanguage::English;
}

TLanguage LanguageAsked()
{
    return LanguageAsked([](const char* name) { return static_cast<const char*>(std::getenv(name)); });
}

void Speak(TLanguage language, const std::string& folder)
{
    {
        const std::lock_guard lock(FolderLock);
        FolderSpoken() = folder;
    }
    if (language == TLanguage::Chinese) {
        SelectMessagesLocale();
        ::setenv("LANGUAGE", LanguageTag(language), 1);
        ::bindtextdomain(Domain, folder.c_str());
        // Our texts are UTF-8 whatever the locale of characters is, as everywhere in the program.
        ::bind_textdomain_codeset(Domain, "UTF-8");
    }
    SpokenLanguage.store(language);
}

TLanguage Spoken() noexcept { return SpokenLanguage.load(); }

std::string SpokenCatalogFolder()
{
    const std::lock_guard lock(FolderLock);
    return FolderSpoken();
}

const char* LanguageTag(TLanguage language) noexcept { return language == TLanguage::Chinese ? "zh_CN" : "en"; }

TLanguage LanguageOfTag(std::string_view tag) noexcept
{
    return IsChineseName(tag) ? TLanguage::Chinese : TLanguage::English;
}

std::string CatalogFolder()
{
    char self[4096];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return {};
    const std::filesystem::path program(std::string(self, static_cast<std::size_t>(n)));
    return (program.parent_path() / QUORLIN_CATALOGS_FROM_BIN).lexically_normal().string();
}

void RestoreProgramLocale()
{
    std::setlocale(LC_NUMERIC, "C");
    if (Spoken() == TLanguage::Chinese) SelectMessagesLocale();
}

}  // namespace quorlin
