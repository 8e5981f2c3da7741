#include "data/format/write/ValueParser.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "values/TextNumber.h"
#include "support/AsciiText.h"
#include "support/Calendar.h"
#include "support/TextCodec.h"
#include "data/format/Damage.h"
#include "data/format/read/Values.h"
#include "support/Messages.h"

namespace quorlin::jet {

namespace {

__extension__ using TWide = unsigned __int128;

constexpr double SecondsPerHour = 3600.0;
constexpr double SecondsPerMinute = 60.0;

constexpr TWide Pow10(unsigned n) noexcept { return n == 0 ? 1 : 10 * Pow10(n - 1); }
constexpr double CurrencyUnit = static_cast<double>(Pow10(CurrencyScale));
// Close to Currency's limit a float no longer tells which side of it a value lies; such text is
// refused rather than rounded into the wrong value.
constexpr double CurrencyFloatLimit = 9.2e14;

// The characters Access itself takes typed into a memo field; a longer text is more likely a
// mistake than a note.
constexpr std::size_t MaxMemoUnits = 65535;
// Beyond 28 digits of any Decimal, and well inside what TWide holds while the digits are read.
constexpr unsigned WideDigitBits = 100;

std::string Trimmed(std::string_view s) { return std::string(Trim(s)); }

bool IsLeapYear(int y) noexcept { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

// Plain decimal text: an optional sign, then digits with at most one "." among them.
struct TDecimalText {
    bool Negative = false;
    std::string Whole;
    std::string Fraction;
};

std::optional<TDecimalText> SplitDecimal(std::string_view text)
{
    std::string t = Trimmed(text);
    TDecimalText d;
    if (!t.empty() && (t[0] == '-' || t[0] == '+')) {
        d.Negative = t[0] == '-';
        t.erase(0, 1);
    }
    const auto dot = t.find('.');
    d.Whole = t.substr(0, dot);
    d.Fraction = dot == std::string::npos ? "" : t.substr(dot + 1);
    const auto digits = [](const std::string& s) {
        return std::all_of(s.begin(), s.end(), [](char ch) { return ch >= '0' && ch <= '9'; });
    };
    if ((d.Whole.empty() && d.Fraction.empty()) || !digits(d.Whole) || !digits(d.Fraction)) return std::nullopt;
    return d;
}

// The magnitude in units of 10^-scale, rounded half away from zero at the next digit; none when
// it is beyond any column's reach.
std::optional<TWide> ScaledUnits(const TDecimalText& d, std::size_t scale)
{
    TWide units = 0;
    for (char ch : d.Whole + (d.Fraction + std::string(scale, '0')).substr(0, scale)) {
        units = units * 10 + static_cast<unsigned>(ch - '0');
        if (units >> WideDigitBits) return std::nullopt;
    }
    if (d.Fraction.size() > scale && d.Fraction[scale] >= '5') ++units;
    return units;
}

[[noreturn]] void Invalid(const TColumnDef& column, const std::string& text, const char* what)
{
    Refused(quorlin::Format(Tr("'%1$s' is not a valid value for the field '%2$s' (%3$s)."), text, column.Name, what));
}

[[noreturn]] void OutOfRange(const TColumnDef& column, const std::string& text)
{
    Refused(quorlin::Format(Tr("The value '%1$s' does not fit the field '%2$s' (%3$s)."), text, column.Name,
                            ShownColumnTypeName(column.Type)));
}

bool ParseBoolean(const TColumnDef& column, const std::string& text)
{
    const std::string t = LowerAscii(Trim(text));
    if (t == "true" || t == "yes" || t == "on" || t == "1" || t == "-1") return true;
    if (t == "false" || t == "no" || t == "off" || t == "0" || t.empty()) return false;
    Invalid(column, text, Tr("true or false"));
}

double Number(const TColumnDef& column, const std::string& text)
{
    double d = 0.0;
    if (!TryTextToFloat(text, d) || Trimmed(text).empty()) Invalid(column, text, Tr("a number"));
    if (!std::isfinite(d)) OutOfRange(column, text);
    return d;
}

void SetNumber(TParsedValue& v, double number, TBytes data)
{
    v.Kind = TCellKind::Number;
    v.Number = number;
    v.Data = std::move(data);
}

template <class T>
TBytes BytesOf(T value)
{
    TBytes data(sizeof value);
    std::memcpy(data.data(), &value, sizeof value);
    return data;
}

// Whole numbers written with a fraction or an exponent ("1e3", "7.0") count when they are whole.
long long WholeFromFloat(const TColumnDef& column, const std::string& text, const std::string& t, long long low, long long high)
{
    double d = 0.0;
    if (t.empty() || !TryTextToFloat(t, d)) Invalid(column, text, Tr("a whole number"));
    if (std::isfinite(d) && d == std::trunc(d) && d >= static_cast<double>(low) && d <= static_cast<double>(high))
        return static_cast<long long>(d);
    if (d != std::trunc(d) && std::isfinite(d)) Invalid(column, text, Tr("a whole number"));
    OutOfRange(column, text);
}

template <class T>
void StoreInteger(const TColumnDef& column, TParsedValue& v, const std::string& text)
{
    const long long low = std::numeric_limits<T>::min(), high = std::numeric_limits<T>::max();
    const std::string t = Trimmed(text);
    long long n = 0;
    const char* first = t.data() + (t.size() > 1 && t[0] == '+' ? 1 : 0);
    const auto [end, ec] = std::from_chars(first, t.data() + t.size(), n);
    if (t.empty() || end != t.data() + t.size())
        n = WholeFromFloat(column, text, t, low, high);
    else if (ec != std::errc())
        OutOfRange(column, text);
    if (n < low || n > high) OutOfRange(column, text);
    SetNumber(v, static_cast<double>(n), BytesOf(static_cast<T>(n)));
}

void StoreSingle(const TColumnDef& column, TParsedValue& v, const std::string& text)
{
    const auto f = static_cast<float>(Number(column, text));
    if (!std::isfinite(f)) OutOfRange(column, text);
    SetNumber(v, f, BytesOf(f));
}

void StoreDouble(TParsedValue& v, double d) { SetNumber(v, d, BytesOf(d)); }

void StoreCurrencyUnits(TParsedValue& v, long long units)
{
    SetNumber(v, static_cast<double>(units) / CurrencyUnit, BytesOf(static_cast<std::int64_t>(units)));
}

// The text is read exactly, rounded half away from zero at the first digit Currency drops.
void StoreCurrency(const TColumnDef& column, TParsedValue& v, const std::string& text)
{
    const std::optional<TDecimalText> d = SplitDecimal(text);
    if (!d) {
        // Exponents and the like: through the float reading, then rounded to the unit.
        const double number = Number(column, text);
        if (std::fabs(number) >= CurrencyFloatLimit) OutOfRange(column, text);
        StoreCurrencyUnits(v, std::llround(number * CurrencyUnit));
        return;
    }
    const auto units = ScaledUnits(*d, CurrencyScale);
    const TWide largest = std::numeric_limits<std::int64_t>::max();
    if (!units || *units > (d->Negative ? largest + 1 : largest)) OutOfRange(column, text);
    const auto magnitude = static_cast<unsigned long long>(*units);
    StoreCurrencyUnits(v, d->Negative ? static_cast<long long>(0 - magnitude) : static_cast<long long>(magnitude));
}

struct TDateText {
    int Year = 0, Month = 0, Day = 0, Hour = 0, Minute = 0, Second = 0;
};

TDateText SplitDate(const TColumnDef& column, const std::string& text)
{
    const std::string t = Trimmed(text);
    TDateText d;
    char tail = 0;
    const int fields = std::sscanf(t.c_str(), "%d-%d-%d %d:%d:%d%c", &d.Year, &d.Month, &d.Day, &d.Hour, &d.Minute,
                                   &d.Second, &tail);
    const bool shapeOk = (fields == 3 && t.find(' ') == std::string::npos) || fields == 5 || fields == 6;
    if (!shapeOk || t.find('T') != std::string::npos)
        Invalid(column, text, Tr("a date as YYYY-MM-DD or YYYY-MM-DD HH:MM[:SS]"));
    if (fields == 5 && std::count(t.begin(), t.end(), ':') != 1) Invalid(column, text, Tr("a date as YYYY-MM-DD HH:MM[:SS]"));
    return d;
}

bool IsValidDate(const TDateText& d) noexcept
{
    static const int monthDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (d.Year < TDateEpoch::FirstYear || d.Year > TDateEpoch::LastYear || d.Month < 1 || d.Month > 12 || d.Day < 1 ||
        d.Day > monthDays[d.Month - 1] || (d.Month == 2 && d.Day == 29 && !IsLeapYear(d.Year)))
        return false;
    return d.Hour >= 0 && d.Hour < 24 && d.Minute >= 0 && d.Minute < 60 && d.Second >= 0 && d.Second < 60;
}

double DayNumber(const TColumnDef& column, const std::string& text)
{
    const TDateText d = SplitDate(column, text);
    if (!IsValidDate(d)) OutOfRange(column, text);
    const double second = d.Hour * SecondsPerHour + d.Minute * SecondsPerMinute + d.Second;
    return DayNumberFromDateTime({d.Year, static_cast<unsigned>(d.Month), static_cast<unsigned>(d.Day)}, second);
}

// A scaled integer of at most the column's precision in digits.
void StoreDecimal(const TColumnDef& column, TParsedValue& v, const std::string& text)
{
    const std::optional<TDecimalText> d = SplitDecimal(text);
    if (!d) Invalid(column, text, Tr("a decimal number such as -12.345"));
    const auto units = ScaledUnits(*d, column.Scale);
    if (!units || *units >= Pow10(column.Precision)) OutOfRange(column, text);
    const bool negative = d->Negative && *units != 0;
    TBytes data(DecimalSize, 0);
    data[0] = negative ? DecimalNegative : 0;
    constexpr std::size_t wordSize = sizeof(std::uint32_t), words = (DecimalSize - 1) / wordSize;
    for (std::size_t word = 0; word < words; ++word)
        Put32(data.data() + 1 + wordSize * word, static_cast<std::uint32_t>(*units >> (32 * (words - 1 - word))));
    // What reading it back gives: the decimal text, correctly rounded to a float.
    double number = 0.0;
    if (!TryTextToFloat(ScaledDecimalText(d->Negative, *units, column.Scale), number))
        Invalid(column, text, Tr("a decimal number"));
    SetNumber(v, number, std::move(data));
}

// Jet 4 text: UTF-16, stored uncompressed (Access compresses only some values, and reads both).
// A memo's is the value itself, which TableRebuild stores where the row refers to it.
void StoreText(const TColumnDef& column, TParsedValue& v, const std::string& text)
{
    std::u16string units;
    try {
        units = Utf8ToUtf16(text);
    } catch (const std::invalid_argument&) {
        Invalid(column, text, Tr("text"));
    }
    const std::size_t limit = column.Type == TColumnType::Memo ? MaxMemoUnits : column.Length / sizeof(char16_t);
    if (units.size() > limit)
        Refused(quorlin::Format(Tr("The text for the field '%1$s' is %2$s characters long; the field holds at most %3$s."),
                                column.Name, units.size(), limit));
    v.Kind = TCellKind::Text;
    v.Text = text;
    v.Data.resize(units.size() * sizeof(char16_t));
    for (std::size_t i = 0; i < units.size(); ++i) Put16(v.Data.data() + sizeof(char16_t) * i, units[i]);
}

}  // namespace

TParsedValue TValueParser::Parse(const std::optional<std::string>& input) const
{
    TParsedValue v;
    if (FColumn.Type == TColumnType::Boolean) {
        v.Kind = TCellKind::Number;
        v.Present = input && ParseBoolean(FColumn, *input);
        v.Number = v.Present ? -1.0 : 0.0;  // Access counts Yes as -1
        return v;
    }
    if (!input) return v;
    v.Present = true;
    const std::string& text = *input;
    switch (FColumn.Type) {
    case TColumnType::Byte: StoreInteger<std::uint8_t>(FColumn, v, text); break;
    case TColumnType::Integer: StoreInteger<std::int16_t>(FColumn, v, text); break;
    case TColumnType::Long: StoreInteger<std::int32_t>(FColumn, v, text); break;
    case TColumnType::Single: StoreSingle(FColumn, v, text); break;
    case TColumnType::Double: StoreDouble(v, Number(FColumn, text)); break;
    case TColumnType::DateTime: StoreDouble(v, DayNumber(FColumn, text)); break;
    case TColumnType::Currency: StoreCurrency(FColumn, v, text); break;
    case TColumnType::Text:
    case TColumnType::Memo: StoreText(FColumn, v, text); break;
    case TColumnType::Decimal: StoreDecimal(FColumn, v, text); break;
    default:
        Refused(quorlin::Format(Tr("The field '%1$s' is a %2$s field, which this program cannot change."), FColumn.Name,
                                ShownColumnTypeName(FColumn.Type)));
    }
    return v;
}

}  // namespace quorlin::jet
