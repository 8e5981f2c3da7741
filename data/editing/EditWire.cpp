#include "data/editing/EditWire.h"

#include <algorithm>
#include <array>

#include "support/Messages.h"

namespace quorlin {

namespace {

// An Access file holds at most 2 GiB; anything claiming more is no answer of ours.
constexpr std::uint64_t MostFileBytes = std::uint64_t{1} << 32;
constexpr std::size_t MostNameBytes = 4096;
constexpr std::int32_t MostPageBytes = 1 << 16;
constexpr std::int32_t MostFields = 4096;

void WriteValue(TWireWriter& w, const std::optional<TCellValue>& value)
{
    if (!value) return w.U8(0);
    w.U8(1);
    WriteCell(w, value->Kind, value->Number, value->Text);
}

std::optional<TCellValue> ReadValue(TWireReader& r)
{
    if (r.U8() == 0) return std::nullopt;
    TCellValue v;
    const auto kind = r.U8();
    if (kind > static_cast<std::uint8_t>(TCellKind::Text)) throw EWireError();
    v.Kind = static_cast<TCellKind>(kind);
    if (v.Kind == TCellKind::Number) v.Number = r.F64();
    if (v.Kind == TCellKind::Text) v.Text = r.Str();
    return v;
}

void WriteValues(TWireWriter& w, const TMeantValues& values)
{
    w.I32(static_cast<std::int32_t>(values.size()));
    for (const auto& v : values) WriteValue(w, v);
}

TMeantValues ReadValues(TWireReader& r)
{
    const std::int32_t count = r.I32();
    if (count < 0 || count > MostFields) throw EWireError();
    TMeantValues values(static_cast<std::size_t>(count));
    for (auto& v : values) v = ReadValue(r);
    return values;
}

std::int32_t ReadCount(TWireReader& r, std::int32_t most)
{
    const std::int32_t count = r.I32();
    if (count < 0 || count > most) throw EWireError();
    return count;
}

void WriteTable(TWireWriter& w, const TTableData& table)
{
    std::vector<TColumnInfo> columns;
    for (const auto& c : table.Columns) columns.push_back(c.Info);
    WriteColumns(w, columns, table.RecordCount);
    for (std::size_t r = 0; r < static_cast<std::size_t>(table.RecordCount); ++r) {
        w.U8(static_cast<std::uint8_t>(TWireMark::Record));
        for (const auto& c : table.Columns) {
            const std::string_view text = c.Texts.empty() ? std::string_view() : std::string_view(c.Texts[r]);
            WriteCell(w, TCellValue{c.Kinds[r], c.Numbers[r], std::string(text)});
        }
    }
    w.U8(static_cast<std::uint8_t>(TWireMark::End));
}

void WriteChanges(TWireWriter& w, const TMeantChanges& changes)
{
    w.I32(static_cast<std::int32_t>(changes.Deletes.size()));
    for (std::size_t d : changes.Deletes) w.U64(d);
    w.I32(static_cast<std::int32_t>(changes.Updates.size()));
    for (const auto& [record, values] : changes.Updates) {
        w.U64(record);
        WriteValues(w, values);
    }
    w.I32(static_cast<std::int32_t>(changes.Inserts.size()));
    for (const auto& values : changes.Inserts) WriteValues(w, values);
}

TMeantChanges ReadChanges(TWireReader& r)
{
    TMeantChanges changes;
    for (std::int32_t n = ReadCount(r, INT32_MAX); n > 0; --n) changes.Deletes.insert(r.U64());
    for (std::int32_t n = ReadCount(r, INT32_MAX); n > 0; --n) {
        const std::uint64_t record = r.U64();
        changes.Updates.emplace(record, ReadValues(r));
    }
    for (std::int32_t n = ReadCount(r, INT32_MAX); n > 0; --n) changes.Inserts.push_back(ReadValues(r));
    return changes;
}

}  // namespace

std::string DamagedForEditingText(const std::string& path)
{
    return Format(Tr("The database file '%1$s' is damaged; it cannot be changed."), path);
}

void WriteEditRequest(TWireWriter& w, const TEditRequest& request)
{
    w.U8(static_cast<std::uint8_t>(request.Ask));
    w.Str(request.Path);
    w.Str(request.Table);
    w.U8(static_cast<std::uint8_t>(request.Change.Kind));
    w.I32(request.Change.Record);
    w.I32(static_cast<std::int32_t>(request.Change.Values.size()));
    for (const TFieldText& v : request.Change.Values) {
        w.I32(v.Field);
        w.U8(v.Text ? 1 : 0);
        if (v.Text) w.Str(*v.Text);
    }
    WriteTexts(w, request.ReadColumns);
    w.I32(request.ReadRecords);
}

TEditRequest ReadEditRequest(TWireReader& r)
{
    TEditRequest request;
    const auto ask = r.U8();
    if (ask != 'r' && ask != 'e' && ask != 'c' && ask != 'i') throw EWireError();
    request.Ask = static_cast<TEditAsk>(ask);
    request.Path = r.Str(MostNameBytes);
    request.Table = r.Str(MostNameBytes);
    const auto kind = r.U8();
    if (kind > static_cast<std::uint8_t>(TRecordChange::TKind::Delete)) throw EWireError();
    request.Change.Kind = static_cast<TRecordChange::TKind>(kind);
    request.Change.Record = r.I32();
    request.Change.Values.resize(static_cast<std::size_t>(ReadCount(r, MostFields)));
    for (TFieldText& v : request.Change.Values) {
        v.Field = r.I32();
        if (r.U8() != 0) v.Text = r.Str();
    }
    request.ReadColumns = ReadTexts(r);
    request.ReadRecords = r.I32();
    return request;
}

void WriteTexts(TWireWriter& w, const std::vector<std::string>& texts)
{
    w.I32(static_cast<std::int32_t>(texts.size()));
    for (const auto& t : texts) w.Str(t);
}

std::vector<std::string> ReadTexts(TWireReader& r)
{
    std::vector<std::string> texts(static_cast<std::size_t>(ReadCount(r, MostFields)));
    for (auto& t : texts) t = r.Str(std::size_t{1} << 20);
    return texts;
}

TChangedPages ChangedPages(std::span<const std::uint8_t> before, std::span<const std::uint8_t> after,
                           std::uint32_t pageSize, const std::set<std::uint32_t>& candidates)
{
    TChangedPages changed{pageSize, after.size(), {}};
    const auto pageOf = [&](std::span<const std::uint8_t> bytes, std::size_t at) {
        return at + pageSize <= bytes.size() ? bytes.subspan(at, pageSize) : std::span<const std::uint8_t>();
    };
    for (std::uint32_t page : candidates) {
        const std::size_t at = std::size_t{page} * pageSize;
        const auto now = pageOf(after, at), was = pageOf(before, at);
        if (now.empty()) break;
        if (!was.empty() && std::equal(now.begin(), now.end(), was.begin())) continue;
        changed.Pages.emplace_back(page, std::vector<std::uint8_t>(now.begin(), now.end()));
    }
    return changed;
}

std::vector<std::string_view> WithPages(std::span<const std::uint8_t> before, const TChangedPages& changed)
{
    // What lies between the pages put in: before, and past its end the zeros of added pages.
    static const std::array<char, MostPageBytes> zeros{};
    if (changed.PageSize == 0 || changed.PageSize > MostPageBytes || changed.FileSize > MostFileBytes ||
        changed.FileSize % changed.PageSize != 0)
        throw EWireError();
    std::vector<std::string_view> pieces;
    std::uint64_t at = 0;
    const auto fillTo = [&](std::uint64_t end) {
        if (at < before.size() && at < end) {
            const std::uint64_t upto = std::min<std::uint64_t>(end, before.size());
            pieces.emplace_back(reinterpret_cast<const char*>(before.data()) + at, upto - at);
            at = upto;
        }
        while (at < end) {
            const std::uint64_t n = std::min<std::uint64_t>(end - at, zeros.size());
            pieces.emplace_back(zeros.data(), n);
            at += n;
        }
    };
    for (const auto& [page, bytes] : changed.Pages) {
        const std::uint64_t start = std::uint64_t{page} * changed.PageSize;
        if (start < at || bytes.size() != changed.PageSize || start + bytes.size() > changed.FileSize)
            throw EWireError();
        fillTo(start);
        pieces.emplace_back(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        at += changed.PageSize;
    }
    fillTo(changed.FileSize);
    return pieces;
}

void WriteBuiltChange(TWireWriter& w, const TBuiltChange& built)
{
    w.U64(built.BuiltOn);
    w.I32(static_cast<std::int32_t>(built.Changed.PageSize));
    w.U64(built.Changed.FileSize);
    w.I32(static_cast<std::int32_t>(built.Changed.Pages.size()));
    for (const auto& [page, bytes] : built.Changed.Pages) {
        w.I32(static_cast<std::int32_t>(page));
        w.Raw(bytes.data(), bytes.size());
    }
    w.I32(static_cast<std::int32_t>(built.Tables.size()));
    for (const TRebuiltTable& t : built.Tables) {
        w.Str(t.Name);
        WriteChanges(w, t.Changes);
        w.I32(static_cast<std::int32_t>(t.DefColumn.size()));
        for (std::size_t c : t.DefColumn) w.U64(c);
        w.U8(t.Before ? 1 : 0);
        if (t.Before) WriteTable(w, *t.Before);
    }
}

TBuiltChange ReadBuiltChange(TWireReader& r)
{
    TBuiltChange built;
    built.BuiltOn = r.U64();
    const std::int32_t pageSize = r.I32();
    if (pageSize <= 0 || pageSize > MostPageBytes) throw EWireError();
    built.Changed.PageSize = static_cast<std::uint32_t>(pageSize);
    built.Changed.FileSize = r.U64();
    if (built.Changed.FileSize > MostFileBytes) throw EWireError();
    const auto pages = static_cast<std::size_t>(ReadCount(r, INT32_MAX));
    if (pages > built.Changed.FileSize / built.Changed.PageSize) throw EWireError();
    built.Changed.Pages.resize(pages);
    for (auto& [page, bytes] : built.Changed.Pages) {
        page = static_cast<std::uint32_t>(r.I32());
        bytes.resize(built.Changed.PageSize);
        r.Read(bytes.data(), bytes.size());
    }
    built.Tables.resize(static_cast<std::size_t>(ReadCount(r, 1 << 16)));
    for (TRebuiltTable& t : built.Tables) {
        t.Name = r.Str(MostNameBytes);
        t.Changes = ReadChanges(r);
        t.DefColumn.resize(static_cast<std::size_t>(ReadCount(r, MostFields)));
        for (std::size_t& c : t.DefColumn) c = static_cast<std::size_t>(r.U64());
        if (r.U8() != 0) t.Before = ReadTableStream(r);
    }
    return built;
}

}  // namespace quorlin
