#include "data/format/read/Values.h"

#include <string>

#include "values/TextNumber.h"
#include "data/format/Damage.h"
#include "data/format/read/LongValue.h"
#include "data/format/read/Text.h"
#include "support/Messages.h"

namespace quorlin::jet {

namespace {


std::string Hex(TView bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string s;
    s.reserve(2 * bytes.size());
    for (std::uint8_t b : bytes) {
        s.push_back(digits[b >> 4]);
        s.push_back(digits[b & 15]);
    }
    return s;
}

// The first three groups are little-endian numbers; the last two are bytes in order.
std::string GuidText(TView b)
{
    const std::uint8_t order[GuidSize] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
    std::uint8_t ordered[GuidSize];
    for (std::size_t i = 0; i < GuidSize; ++i) ordered[i] = b[order[i]];
    const std::string h = Hex(TView(ordered, GuidSize));
    return "{" + h.substr(0, 8) + "-" + h.substr(8, 4) + "-" + h.substr(12, 4) + "-" + h.substr(16, 4) + "-" +
           h.substr(20) + "}";
}

// Decimal: a sign byte, then four 32-bit words of the magnitude, the most significant first.
unsigned __int128 DecimalUnits(TView b)
{
    unsigned __int128 units = 0;
    for (std::size_t word = 0; word < 4; ++word) units = units << 32 | Get32(b.data() + 1 + 4 * word);
    return units;
}

void SetNumber(TCellValue& out, double v)
{
    out.Kind = TCellKind::Number;
    out.Number = v;
}

void SetExact(TCellValue& out, std::string text)
{
    double v = 0.0;
    if (!TryTextToFloat(text, v)) Damaged(Tr("a decimal value cannot be read"));
    SetNumber(out, v);
    out.Text = std::move(text);
}

[[noreturn]] void ShortValue(const TColumnDef& column)
{
    Damaged(quorlin::Format(Tr("a value of the field '%1$s' is shorter than its type"), column.Name));
}

}  // namespace

std::string ScaledDecimalText(bool negative, unsigned __int128 units, unsigned scale)
{
    std::string digits;
    do {
        digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(units % 10)));
        units /= 10;
    } while (units != 0);
    if (digits.size() <= scale) digits.insert(0, scale + 1 - digits.size(), '0');
    if (scale > 0) digits.insert(digits.size() - scale, ".");
    return (negative ? "-" : "") + digits;
}

void TValueDecoder::DecodeAny(const TColumnDef& column, bool present, TView data, TCellValue& out) const
{
    out.Text.clear();
    if (column.Type == TColumnType::Boolean) {
        SetNumber(out, present ? -1.0 : 0.0);  // Access counts Yes as -1
        return;
    }
    out.Kind = TCellKind::Null;
    out.Number = 0.0;
    if (!present) return;
    auto need = [&](std::size_t n) {
        if (data.size() < n) ShortValue(column);
    };
    switch (column.Type) {
    case TColumnType::Byte: need(1); SetNumber(out, data[0]); return;
    case TColumnType::Integer: need(2); SetNumber(out, static_cast<std::int16_t>(Get16(data.data()))); return;
    case TColumnType::Long: need(4); SetNumber(out, static_cast<std::int32_t>(Get32(data.data()))); return;
    case TColumnType::Single: need(4); SetNumber(out, GetAs<float>(data.data())); return;
    case TColumnType::Double:
    case TColumnType::DateTime: need(8); SetNumber(out, GetAs<double>(data.data())); return;
    case TColumnType::Currency: {
        need(8);
        const auto units = GetAs<std::int64_t>(data.data());
        const auto magnitude = units < 0 ? 0 - static_cast<std::uint64_t>(units) : static_cast<std::uint64_t>(units);
        SetExact(out, ScaledDecimalText(units < 0, magnitude, CurrencyScale));
        return;
    }
    case TColumnType::Decimal:
        need(DecimalSize);
        SetExact(out, ScaledDecimalText(data[0] != 0, DecimalUnits(data), column.Scale));
        return;
    case TColumnType::Text: DecodeText(column, data, out); return;
    case TColumnType::Memo: {
        const TBytes value = ReadLongValue(FPages, data);
        DecodeText(column, value, out);
        return;
    }
    case TColumnType::ReplicationId:
        need(GuidSize);
        out.Kind = TCellKind::Text;
        out.Text = GuidText(data);
        return;
    case TColumnType::Binary:
        out.Kind = TCellKind::Text;
        out.Text = Hex(data);
        return;
    case TColumnType::Ole:
        out.Kind = TCellKind::Text;
        out.Text = Hex(ReadLongValue(FPages, data));
        return;
    default:
        out.Kind = TCellKind::Text;
        out.Text = "(" + std::string(ColumnTypeName(column.Type)) + ")";
        return;
    }
}

void TValueDecoder::DecodeText(const TColumnDef& column, TView data, TCellValue& out) const
{
    out.Kind = TCellKind::Text;
    out.Text = jet::DecodeText(data, FPages.Format(), column.CodePage != 0 ? column.CodePage : FCodePage);
}

}  // namespace quorlin::jet
