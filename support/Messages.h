#pragma once
// The texts of our own that a user reads, in the language the program speaks. The English text
// is the key into the catalog (po/zh_CN.po, compiled into share/locale/zh_CN/LC_MESSAGES/quorlin.mo
// beside the programs' bin folder), so that without a catalog the program still says it in
// English.
//
// Tr, TrNoop and TrPlural are the keywords po/update.sh hands xgettext: give them string
// literals only. A text with values takes positional placeholders, %1$s to %9$s, filled in by
// Format, so that a translation may put the values in the order its language wants.

#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>
#include <type_traits>

namespace quorlin {

enum class TLanguage { English, Chinese };

// The text in the language spoken; the English itself while English is spoken or where the
// catalog lacks it.
const char* Tr(const char* english) noexcept;

// Marks a text for the catalog where it is written; Tr translates it where it is shown.
constexpr const char* TrNoop(const char* english) noexcept { return english; }

// The form of a text for count things, from its English singular and plural.
const char* TrPlural(const char* singular, const char* plural, unsigned long count) noexcept;

// One value put into a message: a text, or a whole number in decimal digits. Numbers with a
// fraction come as text, written by the caller the way the program writes numbers everywhere.
class TMessageArg {
public:
    TMessageArg(std::string_view text) : FText(text) {}
    TMessageArg(const std::string& text) : FText(text) {}
    TMessageArg(const char* text) : FText(text ? text : "") {}
    template <typename T>
        requires(std::is_integral_v<T> && !std::is_same_v<T, bool> && !std::is_same_v<T, char>)
    TMessageArg(T number) : FText(std::to_string(number))
    {
    }
    const std::string& Text() const noexcept { return FText; }

private:
    std::string FText;
};

// The pattern with %N$s replaced by the N-th value and %% by a percent sign.
//
// Our own filling rather than printf's: printf trusts a translation to name only the arguments
// that were passed and with the right types, and a wrong one reads memory it should not; here
// the values are texts whatever they were, and a placeholder without a value stays as written,
// where the user and the translator see it. The %N$s form is still C's, so that msgfmt
// --check-format verifies that every translation keeps the same placeholders (<format> and a
// format library would take a form msgfmt cannot check, and <format> is not in this compiler's
// library).
std::string FormatMessage(std::string_view pattern, std::initializer_list<TMessageArg> values);

template <typename... TValues>
std::string Format(std::string_view pattern, const TValues&... values)
{
    return FormatMessage(pattern, {TMessageArg(values)...});
}

// The language the environment asks for, read as GNU programs read it: the locale of messages
// (LC_ALL, else LC_MESSAGES, else LANG); unless that is unset, C or POSIX, the preferences
// listed in LANGUAGE come first. Chinese when the first one we speak is Chinese ("zh" and any
// region), English otherwise. variable reads one variable of the environment (nullptr: unset).
TLanguage LanguageAsked(const std::function<const char*(const char*)>& variable);
TLanguage LanguageAsked();  // of this process's environment

// Speaks the language from now on, with the catalogs found in folder. Only the locale of
// messages changes (to "C.UTF-8", with LANGUAGE naming the catalog, so that no locale of that
// language needs to be generated on the system); numbers keep their "." whatever is spoken.
void Speak(TLanguage language, const std::string& folder);
TLanguage Spoken() noexcept;
// The folder Speak was given; empty while English has always been spoken.
std::string SpokenCatalogFolder();

// "zh_CN" or "en", and back (anything not Chinese is English).
const char* LanguageTag(TLanguage language) noexcept;
TLanguage LanguageOfTag(std::string_view tag) noexcept;

// Where the catalogs of the running program are: share/locale beside its bin folder, as the
// build tree and an installation both lay them out.
std::string CatalogFolder();

// Qt's application object takes every category of the locale from the environment as it
// starts. This puts back what the program relies on: "." in numbers, and the language spoken.
void RestoreProgramLocale();

}  // namespace quorlin
