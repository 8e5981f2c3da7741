#include "data/reading/Wire.h"

#include <algorithm>

#include "support/NumberText.h"

namespace quorlin {

void TWireReader::Refill(void* destination, std::size_t n)
{
    auto* out = static_cast<char*>(destination);
    while (n > 0) {
        if (FPos == FEnd) {
            FPos = 0;
            FEnd = FSource(FBuffer.data(), FBuffer.size());
            if (FEnd == 0) throw EWireError();
        }
        const std::size_t take = std::min(n, FEnd - FPos);
        std::memcpy(out, FBuffer.data() + FPos, take);
        FPos += take;
        out += take;
        n -= take;
    }
}

void WriteColumns(TWireWriter& w, const std::vector<TColumnInfo>& columns, std::int32_t expectedRecords)
{
    w.U8(static_cast<std::uint8_t>(TWireMark::Columns));
    w.I32(static_cast<std::int32_t>(columns.size()));
    w.I32(expectedRecords);
    for (const auto& c : columns) {
        w.Str(c.Name);
        w.U8(static_cast<std::uint8_t>(c.Type));
        w.I32(c.Size);
        w.I32(c.Precision);
        w.I32(c.Scale);
        w.U8(c.AutoNumber ? 1 : 0);
    }
}

void WriteWarning(TWireWriter& w, std::string_view text)
{
    w.U8(static_cast<std::uint8_t>(TWireMark::Warning));
    w.Str(text.substr(0, MaxWireWarningSize));
}

void WriteFingerprint(TWireWriter& w, std::uint64_t fingerprint)
{
    w.U8(static_cast<std::uint8_t>(TWireMark::Fingerprint));
    w.U64(fingerprint);
}

namespace {

// A record of numbers and empty cells read straight from the buffer; false (nothing read) when
// it holds anything else or does not lie in the buffer whole.
bool ReadNumberRecord(TWireReader& r, TTableData& table)
{
    const std::string_view buffered = r.Buffered();
    if (buffered.size() < table.Columns.size() * (1 + sizeof(double))) return false;
    const char* p = buffered.data();
    for (const auto& c : table.Columns) {
        const auto kind = static_cast<TCellKind>(*p);
        if (kind == TCellKind::Number)
            p += 1 + sizeof(double);
        else if (kind == TCellKind::Null && c.Texts.empty())
            p += 1;
        else
            return false;
    }
    p = buffered.data();
    for (auto& c : table.Columns) {
        const auto kind = static_cast<TCellKind>(*p++);
        double v = 0.0;
        if (kind == TCellKind::Number) {
            std::memcpy(&v, p, sizeof v);
            p += sizeof v;
            if (!c.Texts.empty()) c.Texts.emplace_back();
        }
        c.Kinds.push_back(kind);
        c.Numbers.push_back(v);
    }
    r.Skip(static_cast<std::size_t>(p - buffered.data()));
    return true;
}

}  // namespace

namespace {

// A record in the general way, cell by cell; a text is taken only once the budget has room for
// it.
void ReadRecord(TWireReader& r, TTableData& table, TRecordBudget& budget)
{
    for (auto& c : table.Columns) {
        const std::uint8_t byte = r.U8();
        const auto kind = static_cast<TCellKind>(byte);
        if (byte == ExactNumberCell || kind == TCellKind::Text) {
            const double number = byte == ExactNumberCell ? r.F64() : 0.0;
            const std::size_t length = r.Length();
            // Texts are kept beside the numbers only once a column has one.
            budget.StartTexts(c);
            budget.TakeText(length);
            c.Texts.resize(c.Kinds.size());
            c.Kinds.push_back(byte == ExactNumberCell ? TCellKind::Number : TCellKind::Text);
            c.Numbers.push_back(number);
            c.Texts.push_back(r.Bytes(length));
        } else if (kind == TCellKind::Number || kind == TCellKind::Null) {
            c.Kinds.push_back(kind);
            c.Numbers.push_back(kind == TCellKind::Number ? r.F64() : 0.0);
            if (!c.Texts.empty()) c.Texts.emplace_back();
        } else {
            throw EWireError();
        }
    }
}

// The numbers of the columns named become their text.
void ReadRetyped(TWireReader& r, TTableData& table, TRecordBudget& budget)
{
    const std::int32_t count = r.I32();
    if (count < 0 || static_cast<std::size_t>(count) > table.Columns.size()) throw EWireError();
    for (std::int32_t i = 0; i < count; ++i) {
        const std::int32_t index = r.I32();
        if (index < 0 || static_cast<std::size_t>(index) >= table.Columns.size()) throw EWireError();
        TColumnData& c = table.Columns[static_cast<std::size_t>(index)];
        c.Info.Type = TColumnType::Text;
        if (c.Kinds.empty()) continue;
        budget.StartTexts(c);
        c.Texts.resize(c.Kinds.size());
        for (std::size_t k = 0; k < c.Kinds.size(); ++k) {
            if (c.Kinds[k] != TCellKind::Number) continue;
            std::string text = FormatGeneral(c.Numbers[k]);
            budget.TakeText(text.size());
            c.Kinds[k] = TCellKind::Text;
            c.Numbers[k] = 0.0;
            c.Texts[k] = std::move(text);
        }
    }
}

}  // namespace

void WriteRetyped(TWireWriter& w, const std::vector<std::int32_t>& columns)
{
    w.U8(static_cast<std::uint8_t>(TWireMark::Retyped));
    w.I32(static_cast<std::int32_t>(columns.size()));
    for (std::int32_t c : columns) w.I32(c);
}

TTableData ReadTableStream(TWireReader& r, std::uint64_t memoryLimit)
{
    TTableData table;
    for (auto mark = static_cast<TWireMark>(r.U8()); mark != TWireMark::Columns; mark = static_cast<TWireMark>(r.U8())) {
        if (mark == TWireMark::Failure) throw EProviderError(r.Str());
        if (mark != TWireMark::Progress) throw EWireError();
    }
    const std::int32_t columns = r.I32();
    const std::int32_t expected = r.I32();
    if (columns < 0 || columns > 4096) throw EWireError();
    table.Columns.resize(static_cast<std::size_t>(columns));
    for (auto& c : table.Columns) {
        c.Info.Name = r.Str(4096);
        c.Info.Type = static_cast<TColumnType>(r.U8());
        c.Info.Size = r.I32();
        c.Info.Precision = r.I32();
        c.Info.Scale = r.I32();
        c.Info.AutoNumber = r.U8() != 0;
    }
    // A damaged file may claim any count of records: the budget takes the claim only as far as
    // it fits.
    TRecordBudget budget(table, memoryLimit, expected);
    bool retyped = false;
    bool recordsEnded = false;
    for (;;) {
        const auto mark = static_cast<TWireMark>(r.U8());
        if (mark == TWireMark::Progress) continue;
        if (mark == TWireMark::End) break;
        if (mark == TWireMark::Warning) {
            if (table.Warnings.size() == MaxWireWarnings) throw EWireError();
            table.Warnings.push_back(r.Str(MaxWireWarningSize));
            recordsEnded = true;
            continue;
        }
        if (mark == TWireMark::Fingerprint) {
            table.Fingerprint = r.U64();
            if (static_cast<TWireMark>(r.U8()) != TWireMark::End) throw EWireError();
            break;
        }
        if (mark == TWireMark::Failure) throw EProviderError(r.Str());
        if (mark == TWireMark::Retyped && !retyped && table.Warnings.empty()) {
            ReadRetyped(r, table, budget);
            retyped = recordsEnded = true;
            continue;
        }
        if (mark != TWireMark::Record || recordsEnded) throw EWireError();
        budget.MakeRoom();
        if (!ReadNumberRecord(r, table)) ReadRecord(r, table, budget);
        if (++table.RecordCount == INT32_MAX) throw EWireError();
    }
    return table;
}

void WriteCatalog(TWireWriter& w, const std::vector<TCatalogObject>& objects)
{
    w.I32(static_cast<std::int32_t>(objects.size()));
    for (const auto& o : objects) {
        w.U8(static_cast<std::uint8_t>(o.Kind));
        w.Str(o.Name);
    }
}

std::vector<TCatalogObject> ReadCatalog(TWireReader& r)
{
    const std::int32_t count = r.I32();
    if (count < 0 || count > (1 << 20)) throw EWireError();
    std::vector<TCatalogObject> catalog(static_cast<std::size_t>(count));
    for (auto& o : catalog) {
        const auto kind = r.U8();
        if (kind > static_cast<std::uint8_t>(TObjectKind::SystemTable)) throw EWireError();
        o.Kind = static_cast<TObjectKind>(kind);
        o.Name = r.Str(4096);
    }
    return catalog;
}

}  // namespace quorlin
