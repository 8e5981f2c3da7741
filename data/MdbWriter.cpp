#include "MdbWriter.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <set>
#include <span>

#include "../statistics/DataSet.h"
#include "../support/AsciiText.h"
#include "../support/Calendar.h"
#include "../support/FileWrite.h"
#include "../support/TextCodec.h"
#include "Isolation.h"
#include "ProviderError.h"

namespace quorlin {

namespace {

constexpr std::size_t PageSize = 4096;
constexpr std::size_t DataHeader = 14;        // data page: type, 1, free space, tdef, 4 more, row count
constexpr std::size_t MaxRowsPerPage = 255;   // a row pointer keeps the row number in one byte
constexpr std::size_t IndexMaskStart = 0x1B;  // index pages: a bit where each entry ends
constexpr std::size_t IndexEntriesStart = 0x1E0;
constexpr std::size_t MapPageBits = (PageSize - 4) * 8;  // pages covered by one usage-map page
constexpr std::uint16_t DeletedRow = 0x8000;
constexpr std::uint16_t OverflowRow = 0x4000;
constexpr std::uint16_t RowOffsetMask = 0x1FFF;

std::function<void(std::string_view)>& StepHook()
{
    static std::function<void(std::string_view)> hook;
    return hook;
}

void Step(std::string_view step)
{
    if (StepHook()) StepHook()(step);
}

std::uint16_t Get16(const std::uint8_t* p) noexcept { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
std::uint32_t Get32(const std::uint8_t* p) noexcept
{
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
void Put16(std::uint8_t* p, std::uint32_t v) noexcept
{
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
void Put32(std::uint8_t* p, std::uint32_t v) noexcept
{
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

using TBytes = std::vector<std::uint8_t>;
using TView = std::span<const std::uint8_t>;

[[noreturn]] void Refuse(const std::string& why) { throw EProviderError(why); }

// ---------------------------------------------------------------------------------------------
// The file in memory, page by page. Every access is checked: the file may be damaged, and a
// damaged file must end in a refusal, never in a wrong write.

class TImage {
public:
    TImage(std::string path, TBytes bytes) : FPath(std::move(path)), FBytes(std::move(bytes)) {}
    const std::string& Path() const noexcept { return FPath; }
    std::uint32_t PageCount() const noexcept { return static_cast<std::uint32_t>(FBytes.size() / PageSize); }
    std::uint8_t* Page(std::uint32_t n)
    {
        if (n >= PageCount()) Damaged();
        return FBytes.data() + std::size_t{n} * PageSize;
    }
    std::uint32_t AppendPage()
    {
        FBytes.resize(FBytes.size() + PageSize, 0);
        return PageCount() - 1;
    }
    const TBytes& Bytes() const noexcept { return FBytes; }
    [[noreturn]] void Damaged() const
    {
        Refuse("The database file '" + FPath + "' is damaged; it cannot be changed.");
    }

private:
    std::string FPath;
    TBytes FBytes;
};

// One row of a data page, located by its page's offset table.
struct TRowSpan {
    std::size_t Start = 0;
    std::size_t End = 0;
    std::uint16_t Flags = 0;
};

std::vector<TRowSpan> PageRows(TImage& image, std::uint32_t page)
{
    const std::uint8_t* p = image.Page(page);
    const std::size_t count = Get16(p + 12);
    if (DataHeader + 2 * count > PageSize) image.Damaged();
    std::vector<TRowSpan> rows;
    std::size_t end = PageSize;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint16_t raw = Get16(p + DataHeader + 2 * i);
        TRowSpan r;
        r.Start = raw & RowOffsetMask;
        r.Flags = raw & (DeletedRow | OverflowRow);
        r.End = end;
        if (r.Start < DataHeader + 2 * count || r.Start > r.End) {
            // Deleted rows may have been squeezed to nothing; anything else is damage.
            if (!(r.Flags & DeletedRow)) image.Damaged();
            r.Start = r.End;
        }
        end = r.Start;
        rows.push_back(r);
    }
    return rows;
}

TBytes RowBytes(TImage& image, std::uint32_t pointer)
{
    const std::uint32_t page = pointer >> 8;
    const std::size_t row = pointer & 0xFF;
    const auto rows = PageRows(image, page);
    if (row >= rows.size()) image.Damaged();
    const std::uint8_t* p = image.Page(page);
    return TBytes(p + rows[row].Start, p + rows[row].End);
}

// ---------------------------------------------------------------------------------------------
// Page usage maps: which pages a table or index owns, or which of its pages have room. A map is
// a row holding either the bitmap itself (type 0, from a start page) or pointers to map pages
// (type 1, each covering a fixed range from page 0).

class TUsageMap {
public:
    TUsageMap(TImage& image, std::uint32_t rowPointer) : FImage(image), FPointer(rowPointer)
    {
        const TBytes row = RowBytes(image, rowPointer);
        if (row.size() < 5) image.Damaged();
        FType = row[0];
        if (FType == 0) {
            const std::uint32_t start = Get32(row.data() + 1);
            for (std::size_t i = 0; i < (row.size() - 5) * 8; ++i)
                if (row[5 + i / 8] >> (i % 8) & 1) FPages.insert(start + static_cast<std::uint32_t>(i));
        } else if (FType == 1) {
            for (std::size_t k = 0; 1 + 4 * k + 4 <= row.size(); ++k) {
                const std::uint32_t mapPage = Get32(row.data() + 1 + 4 * k);
                if (mapPage == 0) continue;
                const std::uint8_t* m = image.Page(mapPage);
                if (m[0] != 0x05) image.Damaged();
                for (std::size_t i = 0; i < MapPageBits; ++i)
                    if (m[4 + i / 8] >> (i % 8) & 1) FPages.insert(static_cast<std::uint32_t>(k * MapPageBits + i));
            }
        } else {
            image.Damaged();
        }
        FRowSize = row.size();
    }

    const std::set<std::uint32_t>& Pages() const noexcept { return FPages; }
    void Set(std::set<std::uint32_t> pages) { FPages = std::move(pages); }

    // Writes the pages back into the map's row, changing an inline map that can no longer hold
    // them into one of map pages (the row keeps its size either way).
    void Store()
    {
        const std::uint32_t page = FPointer >> 8;
        const auto rows = PageRows(FImage, page);
        const TRowSpan span = rows.at(FPointer & 0xFF);
        std::uint8_t* row = FImage.Page(page) + span.Start;
        if (FType == 0) {
            const std::uint32_t start = Get32(row + 1);
            const std::size_t bits = (FRowSize - 5) * 8;
            const bool fits = std::all_of(FPages.begin(), FPages.end(), [&](std::uint32_t p) {
                return p >= start && p - start < bits;
            });
            if (fits) {
                std::fill(row + 5, row + FRowSize, std::uint8_t{0});
                for (std::uint32_t p : FPages) row[5 + (p - start) / 8] |= static_cast<std::uint8_t>(1u << ((p - start) % 8));
                return;
            }
            std::fill(row, row + FRowSize, std::uint8_t{0});
            row[0] = 1;
            FType = 1;
        }
        const std::size_t slots = (FRowSize - 1) / 4;
        std::vector<std::uint32_t> mapPages(slots);
        for (std::size_t k = 0; k < slots; ++k) mapPages[k] = Get32(row + 1 + 4 * k);
        for (std::uint32_t p : FPages)
            if (p / MapPageBits >= slots)
                Refuse("The database file '" + FImage.Path() + "' is too large for a table's page map.");
        for (std::size_t k = 0; k < slots; ++k) {
            const bool needed = std::any_of(FPages.begin(), FPages.end(), [&](std::uint32_t p) { return p / MapPageBits == k; });
            if (!needed) {
                if (mapPages[k] != 0) std::fill(FImage.Page(mapPages[k]) + 4, FImage.Page(mapPages[k]) + PageSize, std::uint8_t{0});
                continue;
            }
            if (mapPages[k] == 0) {
                mapPages[k] = FImage.AppendPage();
                std::uint8_t* m = FImage.Page(mapPages[k]);
                m[0] = 0x05;
                m[1] = 0x01;
                FNewMapPages.push_back(mapPages[k]);
            }
            std::uint8_t* m = FImage.Page(mapPages[k]);
            std::fill(m + 4, m + PageSize, std::uint8_t{0});
            for (std::uint32_t p : FPages)
                if (p / MapPageBits == k) {
                    const std::size_t bit = p % MapPageBits;
                    m[4 + bit / 8] |= static_cast<std::uint8_t>(1u << (bit % 8));
                }
        }
        // The row may have moved in memory if a page was appended.
        row = FImage.Page(page) + span.Start;
        for (std::size_t k = 0; k < slots; ++k) Put32(row + 1 + 4 * k, mapPages[k]);
    }

    const std::vector<std::uint32_t>& NewMapPages() const noexcept { return FNewMapPages; }

private:
    TImage& FImage;
    std::uint32_t FPointer;
    std::uint8_t FType = 0;
    std::size_t FRowSize = 0;
    std::set<std::uint32_t> FPages;
    std::vector<std::uint32_t> FNewMapPages;
};

// The database's map of free pages (page 1, row 0): set bits are pages free for reuse, which
// includes the pages beyond the end of the file that the map reaches.
// A page the map does not reach has no stated state, and some writers take such a page for a
// free one and would write over it. So when pages in use lie beyond its reach, the map is
// turned into one of map pages that reach every page of the file, free ones staying free.
void WidenGlobalMap(TImage& image, const std::vector<std::uint32_t>& pages)
{
    const TBytes row = RowBytes(image, (1u << 8) | 0);
    if (row.size() < 5 || row[0] > 1) image.Damaged();
    const std::size_t slots = (row.size() - 1) / 4;
    std::vector<std::uint32_t> mapPages(slots, 0);
    std::set<std::uint32_t> free;
    if (row[0] == 0) {
        const std::uint32_t first = Get32(row.data() + 1);
        const std::size_t bits = (row.size() - 5) * 8;
        if (std::all_of(pages.begin(), pages.end(), [&](std::uint32_t p) { return p >= first && p - first < bits; }))
            return;
        for (std::size_t i = 0; i < bits; ++i)
            if (row[5 + i / 8] >> (i % 8) & 1) free.insert(first + static_cast<std::uint32_t>(i));
    } else {
        for (std::size_t k = 0; k < slots; ++k) mapPages[k] = Get32(row.data() + 1 + 4 * k);
        if (std::all_of(pages.begin(), pages.end(), [&](std::uint32_t p) {
                return p / MapPageBits < slots && mapPages[p / MapPageBits] != 0;
            }))
            return;
        for (std::size_t k = 0; k < slots; ++k) {
            if (mapPages[k] == 0) continue;
            const std::uint8_t* m = image.Page(mapPages[k]);
            for (std::size_t i = 0; i < MapPageBits; ++i)
                if (m[4 + i / 8] >> (i % 8) & 1) free.insert(static_cast<std::uint32_t>(k * MapPageBits + i));
        }
    }
    // Map pages for every range that holds a page of the file, themselves pages of the file.
    for (std::size_t k = 0; k * MapPageBits < image.PageCount(); ++k) {
        if (k >= slots) Refuse("The database file '" + image.Path() + "' is too large for its map of free pages.");
        if (mapPages[k] != 0) continue;
        mapPages[k] = image.AppendPage();
        std::uint8_t* m = image.Page(mapPages[k]);
        m[0] = 0x05;
        m[1] = 0x01;
        free.erase(mapPages[k]);
    }
    const std::size_t total = image.PageCount();
    for (std::size_t k = 0; k < slots; ++k) {
        if (mapPages[k] == 0) continue;
        std::uint8_t* m = image.Page(mapPages[k]);
        std::fill(m + 4, m + PageSize, std::uint8_t{0});
        for (std::size_t i = 0; i < MapPageBits; ++i) {
            const std::size_t page = k * MapPageBits + i;
            if (page >= total || free.count(static_cast<std::uint32_t>(page)))
                m[4 + i / 8] |= static_cast<std::uint8_t>(1u << (i % 8));
        }
    }
    const auto rows = PageRows(image, 1);
    std::uint8_t* r = image.Page(1) + rows.at(0).Start;
    r[0] = 1;
    for (std::size_t k = 0; k < slots; ++k) Put32(r + 1 + 4 * k, mapPages[k]);
}

void MarkPagesInUse(TImage& image, const std::vector<std::uint32_t>& pages, bool inUse)
{
    if (pages.empty()) return;
    if (inUse) WidenGlobalMap(image, pages);
    const TBytes row = RowBytes(image, (1u << 8) | 0);
    if (row.empty()) image.Damaged();
    const auto rows = PageRows(image, 1);
    const std::size_t start = rows.at(0).Start;
    auto flip = [&](std::uint8_t* byte, std::size_t bit) {
        const auto mask = static_cast<std::uint8_t>(1u << bit);
        if (inUse)
            *byte = static_cast<std::uint8_t>(*byte & ~mask);
        else
            *byte |= mask;
    };
    for (std::uint32_t p : pages) {
        std::uint8_t* r = image.Page(1) + start;
        if (row[0] == 0 && row.size() >= 5) {
            const std::uint32_t first = Get32(r + 1);
            if (p >= first && p - first < (row.size() - 5) * 8) flip(r + 5 + (p - first) / 8, (p - first) % 8);
        } else if (row[0] == 1) {
            const std::size_t k = p / MapPageBits;
            if (1 + 4 * k + 4 > row.size()) continue;
            const std::uint32_t mapPage = Get32(r + 1 + 4 * k);
            if (mapPage == 0) continue;
            std::uint8_t* m = image.Page(mapPage);
            const std::size_t bit = p % MapPageBits;
            flip(m + 4 + bit / 8, bit % 8);
        }
    }
}

// ---------------------------------------------------------------------------------------------
// The table's definition.

struct TColumnDef {
    std::string Name;
    TColumnType Type = TColumnType::Text;
    std::uint16_t Number = 0;    // position in the null mask (counts deleted columns)
    std::uint16_t VarIndex = 0;  // position in the variable-length offset table
    std::uint16_t FixedOffset = 0;
    std::uint16_t Length = 0;
    std::uint8_t Flags = 0;
    std::uint8_t Precision = 0;
    std::uint8_t Scale = 0;
    bool Fixed() const noexcept { return (Flags & 0x01) != 0; }
    bool AutoLong() const noexcept { return (Flags & 0x04) != 0; }
    bool AutoGuid() const noexcept { return (Flags & 0x40) != 0; }
};

struct TIndexColumn {
    std::size_t Column = 0;  // index into TTableDef::Columns
    bool Ascending = true;
};

struct TRealIndex {
    std::vector<TIndexColumn> Columns;
    std::uint32_t MapPointer = 0;
    std::uint32_t RootPage = 0;
    std::uint8_t Flags = 0;
    std::size_t CountOffset = 0;  // where the first TDEF page keeps its entry count
    std::string Name;             // of a logical index it backs
    bool Primary = false;
    bool Unique() const noexcept { return (Flags & 0x01) != 0; }
    bool IgnoreNulls() const noexcept { return (Flags & 0x02) != 0; }
};

struct TTableDef {
    std::uint32_t Page = 0;
    std::string Name;
    std::uint32_t RowCount = 0;
    std::uint32_t AutoNumber = 0;
    std::uint16_t MaxColumns = 0;
    std::uint32_t UsedMap = 0;
    std::uint32_t FreeMap = 0;
    std::vector<TColumnDef> Columns;
    std::vector<TRealIndex> Indexes;
    std::string Refusal;  // why this table cannot be written, if it cannot
};

class TCursor {
public:
    TCursor(const TBytes& bytes, const TImage& image) : FBytes(bytes), FImage(image) {}
    const std::uint8_t* Take(std::size_t n)
    {
        if (FPos + n > FBytes.size()) FImage.Damaged();
        const std::uint8_t* p = FBytes.data() + FPos;
        FPos += n;
        return p;
    }
    std::size_t Pos() const noexcept { return FPos; }
    void Seek(std::size_t pos) { FPos = pos; }
    std::string Name()
    {
        const std::size_t n = Get16(Take(2));
        const std::uint8_t* p = Take(n);
        std::u16string units(n / 2, u'\0');
        for (std::size_t i = 0; i < units.size(); ++i) units[i] = static_cast<char16_t>(Get16(p + 2 * i));
        try {
            return Utf16ToUtf8(units);
        } catch (const std::invalid_argument&) {
            FImage.Damaged();
        }
    }

private:
    const TBytes& FBytes;
    const TImage& FImage;
    std::size_t FPos = 0;
};

TTableDef ReadTableDef(TImage& image, std::uint32_t page, const std::string& name)
{
    // A long definition goes on over further pages; their contents follow the first page's.
    TBytes block;
    std::set<std::uint32_t> seen;
    for (std::uint32_t p = page; p != 0; p = Get32(image.Page(p) + 4)) {
        if (!seen.insert(p).second || image.Page(p)[0] != 0x02) image.Damaged();
        const std::uint8_t* bytes = image.Page(p);
        block.insert(block.end(), p == page ? bytes : bytes + 8, bytes + PageSize);
    }
    TTableDef def;
    def.Page = page;
    def.Name = name;
    TCursor c(block, image);
    c.Seek(16);
    def.RowCount = Get32(c.Take(4));
    def.AutoNumber = Get32(c.Take(4));
    c.Seek(41);
    def.MaxColumns = Get16(c.Take(2));
    c.Take(2);  // variable columns
    const std::size_t columnCount = Get16(c.Take(2));
    const std::size_t logicalCount = Get32(c.Take(4));
    const std::size_t realCount = Get32(c.Take(4));
    if (realCount > 1000 || logicalCount > 1000) image.Damaged();
    def.UsedMap = Get32(c.Take(4));
    def.FreeMap = Get32(c.Take(4));
    c.Take(12 * realCount);
    for (std::size_t i = 0; i < columnCount; ++i) {
        const std::uint8_t* d = c.Take(25);
        TColumnDef col;
        col.Type = static_cast<TColumnType>(d[0]);
        col.Number = Get16(d + 5);
        col.VarIndex = Get16(d + 7);
        col.Precision = d[11];
        col.Scale = d[12];
        col.Flags = d[15];
        col.FixedOffset = Get16(d + 21);
        col.Length = Get16(d + 23);
        if (col.Number >= def.MaxColumns) image.Damaged();
        def.Columns.push_back(col);
    }
    for (auto& col : def.Columns) col.Name = c.Name();

    struct TRaw {
        std::vector<std::pair<std::uint16_t, std::uint8_t>> Columns;
        std::uint32_t Map, Root;
        std::uint8_t Flags;
    };
    std::vector<TRaw> raws;
    for (std::size_t i = 0; i < realCount; ++i) {
        const std::uint8_t* d = c.Take(52);
        TRaw r;
        for (int k = 0; k < 10; ++k) {
            const std::uint16_t number = Get16(d + 4 + 3 * k);
            if (number != 0xFFFF) r.Columns.emplace_back(number, d[4 + 3 * k + 2]);
        }
        r.Map = Get32(d + 34);
        r.Root = Get32(d + 38);
        r.Flags = d[46];
        raws.push_back(r);
    }
    struct TLogical {
        std::uint32_t Real;
        std::uint32_t Related;
        std::uint8_t Type;
    };
    std::vector<TLogical> logicals;
    for (std::size_t i = 0; i < logicalCount; ++i) {
        const std::uint8_t* d = c.Take(28);
        logicals.push_back({Get32(d + 8), Get32(d + 13), d[23]});
    }
    std::vector<std::string> logicalNames;
    for (std::size_t i = 0; i < logicalCount; ++i) logicalNames.push_back(c.Name());

    for (std::size_t i = 0; i < realCount; ++i) {
        TRealIndex index;
        index.MapPointer = raws[i].Map;
        index.RootPage = raws[i].Root;
        index.Flags = raws[i].Flags;
        index.CountOffset = 63 + 12 * i + 4;
        for (const auto& [number, order] : raws[i].Columns) {
            const auto it = std::find_if(def.Columns.begin(), def.Columns.end(),
                                         [&](const TColumnDef& col) { return col.Number == number; });
            if (it == def.Columns.end()) image.Damaged();
            index.Columns.push_back({static_cast<std::size_t>(it - def.Columns.begin()), order == 0x01});
        }
        def.Indexes.push_back(index);
    }
    for (std::size_t i = 0; i < logicalCount; ++i) {
        const TLogical& l = logicals[i];
        if (l.Real >= def.Indexes.size()) image.Damaged();
        TRealIndex& index = def.Indexes[l.Real];
        if (index.Name.empty()) index.Name = logicalNames[i];
        if (l.Type == 0x01) index.Primary = true;
        if (l.Related != 0xFFFFFFFF && def.Refusal.empty())
            def.Refusal = "The table '" + name + "' takes part in a relationship (index '" + logicalNames[i] +
                          "'), whose rules this program cannot check; it is read-only here.";
    }
    for (const TRealIndex& index : def.Indexes) {
        if (!def.Refusal.empty()) break;
        if (index.CountOffset + 4 > PageSize) image.Damaged();
        for (const TIndexColumn& ic : index.Columns) {
            const TColumnDef& col = def.Columns[ic.Column];
            // Keys we can build: numbers kept in the record's fixed part (not Decimal, not text).
            const bool numeric = HasNumericReading(col.Type) && col.Type != TColumnType::Decimal &&
                                 col.Type != TColumnType::Text && col.Fixed();
            if (numeric) continue;
            def.Refusal = "The table '" + name + "' has an index ('" + index.Name + "') on the " +
                          ColumnTypeName(col.Type) + " field '" + col.Name +
                          "', which this program cannot keep in order; the table is read-only here.";
            break;
        }
    }
    return def;
}

// ---------------------------------------------------------------------------------------------
// Records: a stored row taken apart into the bytes of each column, and put together again.

struct TRowFields {
    std::vector<bool> Present;  // not NULL (for Yes/No: the value)
    std::vector<TBytes> Data;   // the stored bytes of each present column
};

TRowFields SplitRow(const TTableDef& def, TView row, const TImage& image)
{
    TRowFields fields;
    fields.Present.assign(def.Columns.size(), false);
    fields.Data.assign(def.Columns.size(), {});
    if (row.size() < 2) image.Damaged();
    const std::size_t stored = Get16(row.data());
    const std::size_t maskSize = (stored + 7) / 8;
    if (row.size() < 2 + maskSize) image.Damaged();
    const std::uint8_t* mask = row.data() + row.size() - maskSize;
    const bool hasVar = std::any_of(def.Columns.begin(), def.Columns.end(), [](const TColumnDef& c) { return !c.Fixed(); });
    std::size_t varCount = 0;
    std::size_t tableEnd = row.size() - maskSize;  // where the variable-length offset table ends
    if (hasVar) {
        if (tableEnd < 4) image.Damaged();
        varCount = Get16(row.data() + tableEnd - 2);
        if (tableEnd < 4 + 2 * varCount) image.Damaged();
    }
    auto varOffset = [&](std::size_t i) -> std::size_t {  // i == varCount gives the end of data
        return Get16(row.data() + tableEnd - 2 - 2 * (i + 1));
    };
    const std::size_t dataEnd = hasVar ? tableEnd - 2 - 2 * (varCount + 1) : tableEnd;
    for (std::size_t i = 0; i < def.Columns.size(); ++i) {
        const TColumnDef& col = def.Columns[i];
        if (col.Number >= stored) continue;  // added after this row was written
        const bool bit = (mask[col.Number / 8] >> (col.Number % 8)) & 1;
        if (col.Type == TColumnType::Boolean) {
            fields.Present[i] = bit;
            continue;
        }
        if (!bit) continue;
        if (col.Fixed()) {
            const std::size_t start = 2 + col.FixedOffset;
            if (start + col.Length > dataEnd) image.Damaged();
            fields.Data[i].assign(row.begin() + static_cast<std::ptrdiff_t>(start),
                                  row.begin() + static_cast<std::ptrdiff_t>(start + col.Length));
        } else {
            if (col.VarIndex >= varCount) continue;
            const std::size_t start = varOffset(col.VarIndex);
            const std::size_t end = varOffset(col.VarIndex + 1);
            if (start > end || end > dataEnd) image.Damaged();
            fields.Data[i].assign(row.begin() + static_cast<std::ptrdiff_t>(start),
                                  row.begin() + static_cast<std::ptrdiff_t>(end));
        }
        fields.Present[i] = true;
    }
    return fields;
}

TBytes JoinRow(const TTableDef& def, const TRowFields& fields)
{
    const std::size_t columns = def.MaxColumns;
    std::size_t fixedSize = 0;
    std::size_t varSlots = 0;
    bool hasVar = false;
    for (const TColumnDef& col : def.Columns) {
        if (col.Type == TColumnType::Boolean) continue;
        if (col.Fixed())
            fixedSize = std::max<std::size_t>(fixedSize, std::size_t{col.FixedOffset} + col.Length);
        else {
            hasVar = true;
            varSlots = std::max<std::size_t>(varSlots, std::size_t{col.VarIndex} + 1);
        }
    }
    TBytes row(2 + fixedSize, 0);
    Put16(row.data(), static_cast<std::uint32_t>(columns));
    std::vector<std::uint8_t> mask((columns + 7) / 8, 0);
    for (std::size_t i = 0; i < def.Columns.size(); ++i) {
        const TColumnDef& col = def.Columns[i];
        if (!fields.Present[i]) continue;
        mask[col.Number / 8] |= static_cast<std::uint8_t>(1u << (col.Number % 8));
        if (col.Fixed() && col.Type != TColumnType::Boolean)
            std::copy(fields.Data[i].begin(), fields.Data[i].end(), row.begin() + 2 + col.FixedOffset);
    }
    if (hasVar) {
        std::vector<std::size_t> offsets(varSlots + 1);
        for (std::size_t slot = 0; slot < varSlots; ++slot) {
            offsets[slot] = row.size();
            for (std::size_t i = 0; i < def.Columns.size(); ++i) {
                const TColumnDef& col = def.Columns[i];
                if (!col.Fixed() && col.VarIndex == slot && fields.Present[i])
                    row.insert(row.end(), fields.Data[i].begin(), fields.Data[i].end());
            }
        }
        offsets[varSlots] = row.size();
        // The offset table runs backwards from the end: the end of data first, the first column last.
        for (std::size_t k = varSlots + 1; k-- > 0;) {
            row.push_back(static_cast<std::uint8_t>(offsets[k]));
            row.push_back(static_cast<std::uint8_t>(offsets[k] >> 8));
        }
        row.push_back(static_cast<std::uint8_t>(varSlots));
        row.push_back(static_cast<std::uint8_t>(varSlots >> 8));
    }
    row.insert(row.end(), mask.begin(), mask.end());
    return row;
}

// ---------------------------------------------------------------------------------------------
// Values from text, by the field's type.

__extension__ using TWide = unsigned __int128;

// Plain decimal text: an optional sign, then digits with at most one "." among them.
struct TDecimalText {
    bool Negative = false;
    std::string Whole;
    std::string Fraction;
};

std::optional<TDecimalText> SplitDecimal(std::string_view text)
{
    std::string t(Trim(text));
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
        if (units >> 100) return std::nullopt;
    }
    if (d.Fraction.size() > scale && d.Fraction[scale] >= '5') ++units;
    return units;
}

// The parsed value of a field: what to store, and what reading it back must give.
struct TParsedValue {
    bool Present = false;
    TBytes Data;
    TCellKind Kind = TCellKind::Null;
    double Number = 0.0;
    std::string Text;
};

class TValueParser {
public:
    TValueParser(const TColumnDef& column) : FColumn(column) {}

    TParsedValue Parse(const std::optional<std::string>& input) const
    {
        TParsedValue v;
        if (FColumn.Type == TColumnType::Boolean) {
            v.Kind = TCellKind::Number;
            v.Present = input && ParseBoolean(*input);
            v.Number = v.Present ? -1.0 : 0.0;
            return v;
        }
        if (!input) return v;
        v.Present = true;
        switch (FColumn.Type) {
        case TColumnType::Byte: StoreInteger(v, *input, 0, 255, 1); break;
        case TColumnType::Integer: StoreInteger(v, *input, -32768, 32767, 2); break;
        case TColumnType::Long: StoreInteger(v, *input, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max(), 4); break;
        case TColumnType::Single: {
            const double d = Number(*input);
            const auto f = static_cast<float>(d);
            if (!std::isfinite(f)) OutOfRange(*input);
            v.Number = f;
            v.Data.resize(4);
            std::memcpy(v.Data.data(), &f, 4);
            v.Kind = TCellKind::Number;
            break;
        }
        case TColumnType::Double: StoreDouble(v, Number(*input)); break;
        case TColumnType::DateTime: StoreDouble(v, DayNumber(*input)); break;
        case TColumnType::Currency: StoreCurrency(v, *input); break;
        case TColumnType::Text: StoreText(v, *input); break;
        case TColumnType::Decimal: StoreDecimal(v, *input); break;
        default:
            Refuse("The field '" + FColumn.Name + "' is a " + ColumnTypeName(FColumn.Type) +
                   " field, which this program cannot change.");
        }
        return v;
    }

private:
    [[noreturn]] void Invalid(const std::string& text, const char* what) const
    {
        Refuse("'" + text + "' is not a valid value for the field '" + FColumn.Name + "' (" + what + ").");
    }
    [[noreturn]] void OutOfRange(const std::string& text) const
    {
        Refuse("The value '" + text + "' does not fit the field '" + FColumn.Name + "' (" +
               ColumnTypeName(FColumn.Type) + ").");
    }

    bool ParseBoolean(const std::string& text) const
    {
        const std::string t = LowerAscii(Trim(text));
        if (t == "true" || t == "yes" || t == "on" || t == "1" || t == "-1") return true;
        if (t == "false" || t == "no" || t == "off" || t == "0" || t.empty()) return false;
        Invalid(text, "true or false");
    }

    double Number(const std::string& text) const
    {
        double d = 0.0;
        if (!TryTextToFloat(text, d) || Trim(text).empty()) Invalid(text, "a number");
        if (!std::isfinite(d)) OutOfRange(text);
        return d;
    }

    void StoreInteger(TParsedValue& v, const std::string& text, long long low, long long high, std::size_t size) const
    {
        const std::string t(Trim(text));
        long long n = 0;
        const char* first = t.data() + (t.size() > 1 && t[0] == '+' ? 1 : 0);
        const auto [end, ec] = std::from_chars(first, t.data() + t.size(), n);
        if (t.empty() || end != t.data() + t.size()) {
            double d = 0.0;
            if (TryTextToFloat(t, d) && !t.empty()) {
                if (std::isfinite(d) && d == std::trunc(d) && d >= static_cast<double>(low) && d <= static_cast<double>(high))
                    n = static_cast<long long>(d);
                else if (d != std::trunc(d) && std::isfinite(d))
                    Invalid(text, "a whole number");
                else
                    OutOfRange(text);
            } else {
                Invalid(text, "a whole number");
            }
        } else if (ec != std::errc()) {
            OutOfRange(text);
        }
        if (n < low || n > high) OutOfRange(text);
        v.Kind = TCellKind::Number;
        v.Number = static_cast<double>(n);
        v.Data.resize(size);
        for (std::size_t i = 0; i < size; ++i) v.Data[i] = static_cast<std::uint8_t>(static_cast<unsigned long long>(n) >> (8 * i));
    }

    static void StoreDouble(TParsedValue& v, double d)
    {
        v.Kind = TCellKind::Number;
        v.Number = d;
        v.Data.resize(8);
        std::memcpy(v.Data.data(), &d, 8);
    }

    // Currency is kept as ten-thousandths; the text is read exactly, rounded half away from
    // zero at the fifth decimal.
    void StoreCurrency(TParsedValue& v, const std::string& text) const
    {
        const std::optional<TDecimalText> d = SplitDecimal(text);
        if (!d) {
            // Exponents and the like: through the float reading, then rounded to the unit.
            const double number = Number(text);
            if (std::fabs(number) >= 9.2e14) OutOfRange(text);
            StoreUnits(v, static_cast<long long>(std::llround(number * 10000.0)));
            return;
        }
        const auto units = ScaledUnits(*d, 4);
        const TWide limit = d->Negative ? TWide{9223372036854775808ull} : TWide{9223372036854775807ull};
        if (!units || *units > limit) OutOfRange(text);
        const auto magnitude = static_cast<unsigned long long>(*units);
        StoreUnits(v, d->Negative ? static_cast<long long>(0 - magnitude) : static_cast<long long>(magnitude));
    }

    static void StoreUnits(TParsedValue& v, long long units)
    {
        v.Kind = TCellKind::Number;
        v.Data.resize(8);
        for (std::size_t i = 0; i < 8; ++i) v.Data[i] = static_cast<std::uint8_t>(static_cast<unsigned long long>(units) >> (8 * i));
        v.Number = static_cast<double>(units) / 10000.0;
    }

    double DayNumber(const std::string& text) const
    {
        const std::string t(Trim(text));
        int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
        char tail = 0;
        int fields = std::sscanf(t.c_str(), "%d-%d-%d %d:%d:%d%c", &y, &mo, &d, &h, &mi, &s, &tail);
        const bool shapeOk = (fields == 3 && t.find(' ') == std::string::npos) || fields == 5 || fields == 6;
        if (!shapeOk || t.find('T') != std::string::npos)
            Invalid(text, "a date as YYYY-MM-DD or YYYY-MM-DD HH:MM[:SS]");
        if (fields == 5 && std::count(t.begin(), t.end(), ':') != 1) Invalid(text, "a date as YYYY-MM-DD HH:MM[:SS]");
        static const int monthDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
        const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
        if (y < 100 || y > 9999 || mo < 1 || mo > 12 || d < 1 || d > monthDays[mo - 1] || (mo == 2 && d == 29 && !leap) ||
            h < 0 || h > 23 || mi < 0 || mi > 59 || s < 0 || s > 59)
            OutOfRange(text);
        const long long days = DayNumberFromCivil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d));
        const double fraction = (h * 3600.0 + mi * 60.0 + s) / 86400.0;
        // Before 1899-12-30 the time still counts forward from the day's start, stored away from zero.
        return days >= 0 ? static_cast<double>(days) + fraction : static_cast<double>(days) - fraction;
    }

    // A scaled integer of at most the column's precision in digits: a sign byte, then four
    // 32-bit words, the most significant first, each little-endian.
    void StoreDecimal(TParsedValue& v, const std::string& text) const
    {
        const std::optional<TDecimalText> d = SplitDecimal(text);
        if (!d) Invalid(text, "a decimal number such as -12.345");
        const bool negative = d->Negative;
        const std::size_t scale = FColumn.Scale;
        const auto scaled = ScaledUnits(*d, scale);
        if (!scaled) OutOfRange(text);
        const TWide units = *scaled;
        TWide limit = 1;
        for (unsigned i = 0; i < FColumn.Precision; ++i) limit *= 10;
        if (units >= limit) OutOfRange(text);
        v.Kind = TCellKind::Number;
        v.Data.assign(17, 0);
        v.Data[0] = negative && units != 0 ? 0x80 : 0x00;
        for (int word = 0; word < 4; ++word) {
            const auto w = static_cast<std::uint32_t>(units >> (32 * (3 - word)));
            Put32(v.Data.data() + 1 + 4 * word, w);
        }
        // What reading it back gives: the decimal text, correctly rounded to a float.
        std::string canonical;
        for (TWide u = units; u != 0; u /= 10) canonical.insert(canonical.begin(), static_cast<char>('0' + static_cast<int>(u % 10)));
        canonical = std::string(scale + 1 > canonical.size() ? scale + 1 - canonical.size() : 0, '0') + canonical;
        canonical.insert(canonical.size() - scale, ".");
        if (!TryTextToFloat((negative ? "-" : "") + canonical, v.Number)) Invalid(text, "a decimal number");
    }

    void StoreText(TParsedValue& v, const std::string& text) const
    {
        std::u16string units;
        try {
            units = Utf8ToUtf16(text);
        } catch (const std::invalid_argument&) {
            Invalid(text, "text");
        }
        if (units.size() * 2 > FColumn.Length)
            Refuse("The text for the field '" + FColumn.Name + "' is " + std::to_string(units.size()) +
                   " characters long; the field holds at most " + std::to_string(FColumn.Length / 2) + ".");
        v.Kind = TCellKind::Text;
        v.Text = text;
        for (char16_t u : units) {
            v.Data.push_back(static_cast<std::uint8_t>(u & 0xFF));
            v.Data.push_back(static_cast<std::uint8_t>(u >> 8));
        }
    }

    const TColumnDef& FColumn;
};

// ---------------------------------------------------------------------------------------------
// Index keys: each column a flag byte and its value in an order-preserving form, the bytes
// inverted for a descending column.

TBytes IndexKey(const TTableDef& def, const TRealIndex& index, const TRowFields& row, bool& allNull, bool& anyNull)
{
    TBytes key;
    allNull = true;
    anyNull = false;
    for (const TIndexColumn& ic : index.Columns) {
        const TColumnDef& col = def.Columns[ic.Column];
        const std::size_t begin = key.size();
        if (!row.Present[ic.Column]) {
            key.push_back(0x00);
            anyNull = true;
        } else {
            allNull = false;
            key.push_back(0x7F);
            const TBytes& data = row.Data[ic.Column];
            TBytes big(data.rbegin(), data.rend());  // big-endian
            if (big.empty()) continue;
            switch (col.Type) {
            case TColumnType::Byte: break;  // unsigned already
            case TColumnType::Single:
            case TColumnType::Double:
            case TColumnType::DateTime:
                if (big[0] & 0x80)
                    for (auto& b : big) b = static_cast<std::uint8_t>(~b);
                else
                    big[0] ^= 0x80;
                break;
            default: big[0] ^= 0x80; break;  // two's complement integers
            }
            key.insert(key.end(), big.begin(), big.end());
        }
        if (!ic.Ascending)
            for (std::size_t i = begin; i < key.size(); ++i) key[i] = static_cast<std::uint8_t>(~key[i]);
    }
    return key;
}

struct TIndexEntry {
    TBytes Bytes;  // key, then the row's page (3 bytes, big-endian) and row number
    bool AnyNull = false;
};

// An index page: leaf (0x04) entries point at rows; node (0x03) entries are each a copy of a
// child's last entry followed by the child's page, big-endian. A node keeps its last child in
// the tail field instead of an entry, as trees grown at their end are kept.
struct TIndexPage {
    std::uint8_t Type = 0x04;
    std::vector<TBytes> Entries;
    std::uint32_t Prev = 0, Next = 0, Tail = 0;
    TBytes Last;  // the last entry of the subtree, as a parent copies it
};

void WriteIndexPage(std::uint8_t* page, std::uint32_t tdefPage, const TIndexPage& content)
{
    std::fill(page, page + PageSize, std::uint8_t{0});
    page[0] = content.Type;
    page[1] = 0x01;
    Put32(page + 4, tdefPage);
    Put32(page + 0x0C, content.Prev);
    Put32(page + 0x10, content.Next);
    Put32(page + 0x14, content.Tail);
    std::size_t pos = 0;
    for (const TBytes& e : content.Entries) {
        std::copy(e.begin(), e.end(), page + IndexEntriesStart + pos);
        pos += e.size();
        page[IndexMaskStart + pos / 8] |= static_cast<std::uint8_t>(1u << (pos % 8));
    }
    Put16(page + 2, static_cast<std::uint32_t>(PageSize - IndexEntriesStart - pos));
}

constexpr std::size_t IndexPageRoom = PageSize - IndexEntriesStart;

TBytes NodeEntry(const TBytes& last, std::uint32_t child)
{
    TBytes e = last;
    for (int shift = 24; shift >= 0; shift -= 8) e.push_back(static_cast<std::uint8_t>(child >> shift));
    return e;
}

// Builds the tree bottom-up: leaves filled in order, then levels of nodes until one page holds
// the top, which goes to the root page (its number is fixed in the table's definition). Other
// pages come from take().
void WriteIndexTree(TImage& image, std::uint32_t tdefPage, std::uint32_t rootPage, const std::vector<TIndexEntry>& entries,
                    const std::function<std::uint32_t()>& take)
{
    std::vector<TIndexPage> level(1);
    for (const TIndexEntry& e : entries) {
        std::size_t used = 0;
        for (const TBytes& b : level.back().Entries) used += b.size();
        if (used + e.Bytes.size() > IndexPageRoom) level.emplace_back();
        level.back().Entries.push_back(e.Bytes);
        level.back().Last = e.Bytes;
    }
    std::uint8_t type = 0x04;
    while (true) {
        if (level.size() == 1) {
            level[0].Type = type;
            WriteIndexPage(image.Page(rootPage), tdefPage, level[0]);
            return;
        }
        std::vector<std::uint32_t> pages;
        for (std::size_t i = 0; i < level.size(); ++i) pages.push_back(take());
        for (std::size_t i = 0; i < level.size(); ++i) {
            level[i].Type = type;
            level[i].Prev = i > 0 ? pages[i - 1] : 0;
            level[i].Next = i + 1 < level.size() ? pages[i + 1] : 0;
            WriteIndexPage(image.Page(pages[i]), tdefPage, level[i]);
        }
        // The level above: nodes take children while their entries fit; each node's last
        // child goes into its tail.
        std::vector<TIndexPage> parents(1);
        std::vector<std::pair<std::uint32_t, const TBytes*>> pending;  // children of the open node
        auto close = [&]() {
            TIndexPage& node = parents.back();
            if (pending.size() == 1) {
                node.Entries.push_back(NodeEntry(*pending[0].second, pending[0].first));
            } else {
                for (std::size_t k = 0; k + 1 < pending.size(); ++k)
                    node.Entries.push_back(NodeEntry(*pending[k].second, pending[k].first));
                node.Tail = pending.back().first;
            }
            node.Last = *pending.back().second;
            pending.clear();
        };
        std::size_t used = 0;
        for (std::size_t i = 0; i < level.size(); ++i) {
            if (!pending.empty()) {
                // The child before this one becomes an entry once this one joins as the tail.
                const std::size_t entry = pending.back().second->size() + 4;
                if (used + entry > IndexPageRoom) {
                    close();
                    parents.emplace_back();
                    used = 0;
                } else {
                    used += entry;
                }
            }
            pending.emplace_back(pages[i], &level[i].Last);
        }
        close();
        level = std::move(parents);
        type = 0x03;
    }
}

// ---------------------------------------------------------------------------------------------
// The catalog: the table's definition page, from the rows of MSysObjects.

struct TCatalogRow {
    std::string Name;
    std::uint32_t Id = 0;
    std::int32_t Type = 0;
    std::uint32_t Flags = 0;
};

std::string DecodeText(const TBytes& data, const TImage& image)
{
    std::u16string units;
    if (data.size() >= 2 && data[0] == 0xFF && data[1] == 0xFE) {
        // Compressed: one byte a character until a zero byte switches to two bytes, and back.
        bool compressed = true;
        for (std::size_t i = 2; i < data.size();) {
            if (data[i] == 0) {
                compressed = !compressed;
                ++i;
            } else if (compressed) {
                units.push_back(data[i++]);
            } else {
                if (i + 1 >= data.size()) image.Damaged();
                units.push_back(static_cast<char16_t>(Get16(data.data() + i)));
                i += 2;
            }
        }
    } else {
        for (std::size_t i = 0; i + 1 < data.size(); i += 2) units.push_back(static_cast<char16_t>(Get16(data.data() + i)));
    }
    try {
        return Utf16ToUtf8(units);
    } catch (const std::invalid_argument&) {
        image.Damaged();
    }
}

// Live rows of a table, in the order a scan reads them: ascending page, then row number.
struct TStoredRow {
    std::size_t Offset = 0;  // in the file
    std::size_t Length = 0;
    // The row's bytes in the file's bytes (or in a copy of them taken before any change).
    TView In(const TBytes& file) const { return TView(file).subspan(Offset, Length); }
};

std::vector<TStoredRow> ScanRows(TImage& image, const TTableDef& def, const std::set<std::uint32_t>& owned, bool refuseMoved)
{
    std::vector<TStoredRow> rows;
    for (std::uint32_t page : owned) {
        const std::uint8_t* p = image.Page(page);
        if (p[0] != 0x01 || Get32(p + 4) != def.Page) continue;  // long values and the like
        const auto spans = PageRows(image, page);
        for (std::size_t r = 0; r < spans.size(); ++r) {
            if (spans[r].Flags & DeletedRow) continue;
            if (spans[r].Flags & OverflowRow) {
                if (refuseMoved)
                    Refuse("The table '" + def.Name +
                           "' holds records that were moved by earlier edits; compact the database in Access "
                           "before changing it here.");
                continue;
            }
            TStoredRow row;
            row.Offset = std::size_t{page} * PageSize + spans[r].Start;
            row.Length = spans[r].End - spans[r].Start;
            rows.push_back(std::move(row));
        }
    }
    return rows;
}

TTableDef FindTable(TImage& image, const std::string& name)
{
    TTableDef catalog = ReadTableDef(image, 2, "MSysObjects");
    const auto column = [&](const char* n) {
        for (std::size_t i = 0; i < catalog.Columns.size(); ++i)
            if (catalog.Columns[i].Name == n) return i;
        image.Damaged();
    };
    const std::size_t nameCol = column("Name"), idCol = column("Id"), typeCol = column("Type"), flagsCol = column("Flags");
    TUsageMap used(image, catalog.UsedMap);
    std::vector<TCatalogRow> tables;
    for (const TStoredRow& stored : ScanRows(image, catalog, used.Pages(), false)) {
        const TRowFields f = SplitRow(catalog, stored.In(image.Bytes()), image);
        if (!f.Present[nameCol] || !f.Present[idCol] || !f.Present[typeCol]) continue;
        TCatalogRow row;
        row.Name = DecodeText(f.Data[nameCol], image);
        if (f.Data[idCol].size() < 4 || f.Data[typeCol].size() < 2) image.Damaged();
        row.Id = Get32(f.Data[idCol].data());
        row.Type = static_cast<std::int16_t>(Get16(f.Data[typeCol].data()));
        if (f.Present[flagsCol] && f.Data[flagsCol].size() >= 4) row.Flags = Get32(f.Data[flagsCol].data());
        if ((row.Type & 0x7FFF) == 1) tables.push_back(row);
    }
    const TCatalogRow* found = nullptr;
    for (const auto& t : tables)
        if (t.Name == name) found = &t;
    if (!found)
        for (const auto& t : tables)
            if (SameFieldName(t.Name, name)) found = &t;
    if (!found || (found->Flags & 0x80000002u) != 0)
        Refuse("The database engine cannot find the input table '" + name + "' in '" + image.Path() + "'.");
    return ReadTableDef(image, found->Id & 0x00FFFFFF, found->Name);
}

// ---------------------------------------------------------------------------------------------
// The file itself: what can be written at all.

std::string LockFileOf(const std::string& path)
{
    std::filesystem::path p(path);
    const std::string ext = LowerAscii(p.extension().string());
    p.replace_extension(ext == ".accdb" ? ".laccdb" : ".ldb");
    return p.string();
}

TImage LoadForWriting(const std::string& path)
{
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) Refuse("Could not find file '" + path + "'.");
    const std::string lock = LockFileOf(path);
    if (std::filesystem::exists(lock, ec))
        Refuse("The database '" + path + "' is open in another program (its lock file '" + lock +
               "' exists); it cannot be changed now.");
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || ::access(path.c_str(), W_OK) != 0)
        Refuse("The database file '" + path + "' is read-only.");
    const std::filesystem::path folder = std::filesystem::absolute(path, ec).parent_path();
    if (::access(folder.c_str(), W_OK) != 0)
        Refuse("The folder of the database file '" + path + "' is read-only, so the file cannot be replaced safely.");

    std::ifstream in(path, std::ios::binary);
    TBytes bytes(static_cast<std::size_t>(st.st_size));
    if (!in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size())))
        Refuse("The database file '" + path + "' cannot be read.");
    if (bytes.size() < 2 * 2048 || bytes[0] != 0x00) Refuse("The file '" + path + "' is not an Access database.");
    const std::uint8_t version = bytes[0x14];
    if (version == 0x00) Refuse("The database '" + path + "' is in Access 97 format, which is read-only here.");
    if (version != 0x01)
        Refuse("The database '" + path + "' is in the format of Access 2007 or later, which is read-only here.");
    if (bytes.size() % PageSize != 0) Refuse("The database file '" + path + "' is damaged; it cannot be changed.");
    return TImage(path, std::move(bytes));
}

// Two writers of one file, in this program or another copy of it, take turns: each holds the
// file while it reads, rebuilds, replaces and checks it.
class TWriteTurn {
public:
    explicit TWriteTurn(const std::string& path) : FFd(::open(path.c_str(), O_RDONLY | O_CLOEXEC))
    {
        if (FFd >= 0 && ::flock(FFd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
            ::close(FFd);
            Refuse("The database '" + path + "' is being changed by another program; try again in a moment.");
        }
    }
    ~TWriteTurn()
    {
        if (FFd >= 0) ::close(FFd);
    }
    TWriteTurn(const TWriteTurn&) = delete;
    TWriteTurn& operator=(const TWriteTurn&) = delete;

private:
    int FFd;
};

// ---------------------------------------------------------------------------------------------
// Comparing the table as read through a fresh reading process, as every other part reads it.

bool SameCell(const TColumnData& a, std::size_t i, const TColumnData& b, std::size_t j)
{
    if (a.Kinds[i] != b.Kinds[j]) return false;
    if (a.Kinds[i] == TCellKind::Text) return a.Texts[i] == b.Texts[j];
    if (a.Kinds[i] == TCellKind::Null) return true;
    const double x = a.Numbers[i], y = b.Numbers[j];
    if (a.Info.Type == TColumnType::Currency) return std::fabs(x - y) <= 1e-15 * std::fabs(x);
    return x == y || (std::isnan(x) && std::isnan(y));
}

bool SameTable(const TTableData& a, const TTableData& b)
{
    if (a.RecordCount != b.RecordCount || a.Columns.size() != b.Columns.size()) return false;
    for (std::size_t c = 0; c < a.Columns.size(); ++c) {
        if (a.Columns[c].Info.Name != b.Columns[c].Info.Name) return false;
        for (std::int32_t r = 0; r < a.RecordCount; ++r)
            if (!SameCell(a.Columns[c], static_cast<std::size_t>(r), b.Columns[c], static_cast<std::size_t>(r))) return false;
    }
    return true;
}

// What the table must read as after the change: the rows as they were, with the change made.
// assigned holds, by column of the table as read, the values the change stores.
void CheckReadBack(const TTableData& before, const TTableData& after, const TRecordChange& change,
                   const std::vector<std::optional<TParsedValue>>& assigned, const std::string& table)
{
    auto fail = [&](const std::string& what) {
        throw EProviderError("The table '" + table + "' did not read back as it was written (" + what + ").");
    };
    using K = TRecordChange::TKind;
    const std::int32_t expected =
        before.RecordCount + (change.Kind == K::Insert ? 1 : 0) - (change.Kind == K::Delete ? 1 : 0);
    if (after.RecordCount != expected || after.Columns.size() != before.Columns.size()) fail("record count");
    for (std::size_t c = 0; c < after.Columns.size(); ++c) {
        const TColumnData& b = before.Columns[c];
        const TColumnData& a = after.Columns[c];
        if (a.Info.Name != b.Info.Name) fail("columns");
        for (std::int32_t r = 0; r < after.RecordCount; ++r) {
            const auto ar = static_cast<std::size_t>(r);
            const bool changedRow = (change.Kind == K::Update && r == change.Record) ||
                                    (change.Kind == K::Insert && r == before.RecordCount);
            const std::string where = "field '" + a.Info.Name + "' of record " + std::to_string(r + 1);
            if (changedRow && assigned[c]) {
                const TParsedValue& v = *assigned[c];
                bool same = a.Kinds[ar] == v.Kind;
                if (same && v.Kind == TCellKind::Text) same = a.Texts[ar] == v.Text;
                if (same && v.Kind == TCellKind::Number)
                    same = a.Numbers[ar] == v.Number || std::fabs(a.Numbers[ar] - v.Number) <= 1e-15 * std::fabs(v.Number);
                if (!same) fail(where);
                continue;
            }
            if (changedRow && change.Kind == K::Insert) {
                // A field left out of a new record is NULL, a Yes/No field No.
                const bool blank = a.Info.Type == TColumnType::Boolean ? a.Numbers[ar] == 0.0 : a.Kinds[ar] == TCellKind::Null;
                if (!blank) fail(where);
                continue;
            }
            const std::size_t br = change.Kind == K::Delete && r >= change.Record ? ar + 1 : ar;
            if (!SameCell(b, br, a, ar)) fail(where);
        }
    }
}

// Lays the rows out over the table's data pages, in order, adding pages at the end of the file
// when the table's own are full. Returns the new pointer of each row and the pages used.
struct TLayout {
    std::vector<std::uint32_t> Pointers;
    std::vector<std::uint32_t> DataPages;
    std::vector<std::uint32_t> NewPages;
    std::vector<std::uint32_t> Emptied;  // pages no row needs any more: given back to the file
    std::set<std::uint32_t> PagesWithRoom;
};

TLayout LayOutRows(TImage& image, const TTableDef& def, const std::set<std::uint32_t>& owned,
                   const std::vector<TView>& rows, std::size_t smallestRow)
{
    TLayout layout;
    for (std::uint32_t page : owned) {
        const std::uint8_t* p = image.Page(page);
        if (p[0] == 0x01 && Get32(p + 4) == def.Page) layout.DataPages.push_back(page);
    }
    std::size_t next = 0;  // the next row to place
    for (std::size_t k = 0; next < rows.size() || k < layout.DataPages.size(); ++k) {
        if (k == layout.DataPages.size()) {
            const std::uint32_t fresh = image.AppendPage();
            layout.DataPages.push_back(fresh);
            layout.NewPages.push_back(fresh);
        }
        const std::uint32_t page = layout.DataPages[k];
        std::uint8_t* p = image.Page(page);
        const std::uint32_t keep = Get32(p + 8);
        std::fill(p, p + PageSize, std::uint8_t{0});
        // An empty data page is left to no one: some readers take it for a record.
        if (next == rows.size()) {
            layout.Emptied.push_back(page);
            continue;
        }
        p[0] = 0x01;
        p[1] = 0x01;
        Put32(p + 4, def.Page);
        Put32(p + 8, keep);
        std::size_t count = 0;
        std::size_t top = PageSize;  // rows grow down from the end of the page
        while (next < rows.size() && count < MaxRowsPerPage &&
               DataHeader + 2 * (count + 1) + rows[next].size() <= top) {
            top -= rows[next].size();
            std::copy(rows[next].begin(), rows[next].end(), p + top);
            Put16(p + DataHeader + 2 * count, static_cast<std::uint32_t>(top));
            layout.Pointers.push_back((page << 8) | static_cast<std::uint32_t>(count));
            ++count;
            ++next;
        }
        Put16(p + 12, static_cast<std::uint32_t>(count));
        const std::size_t free = top - DataHeader - 2 * count;
        Put16(p + 2, static_cast<std::uint32_t>(free));
        if (count < MaxRowsPerPage && free >= smallestRow + 2) layout.PagesWithRoom.insert(page);
        if (count == 0) image.Damaged();  // a row no page can hold: only a damaged page has one
    }
    return layout;
}

void RebuildIndex(TImage& image, const TTableDef& def, TRealIndex& index, const std::vector<TRowFields>& rows,
                  const std::vector<std::uint32_t>& pointers, std::vector<std::uint32_t>& added,
                  std::vector<std::uint32_t>& freed)
{
    std::vector<TIndexEntry> entries;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        bool allNull = false;
        TIndexEntry e;
        e.Bytes = IndexKey(def, index, rows[i], allNull, e.AnyNull);
        if (allNull && index.IgnoreNulls()) continue;
        const std::uint32_t ptr = pointers[i];
        e.Bytes.push_back(static_cast<std::uint8_t>(ptr >> 24));
        e.Bytes.push_back(static_cast<std::uint8_t>(ptr >> 16));
        e.Bytes.push_back(static_cast<std::uint8_t>(ptr >> 8));
        e.Bytes.push_back(static_cast<std::uint8_t>(ptr));
        entries.push_back(std::move(e));
    }
    std::sort(entries.begin(), entries.end(), [](const TIndexEntry& a, const TIndexEntry& b) { return a.Bytes < b.Bytes; });
    if (index.Unique()) {
        for (std::size_t i = 1; i < entries.size(); ++i) {
            const TBytes& a = entries[i - 1].Bytes;
            const TBytes& b = entries[i].Bytes;
            // Keys with an empty field are never duplicates, as in Access.
            const bool nullKey = entries[i - 1].AnyNull || entries[i].AnyNull;
            if (!nullKey && a.size() == b.size() && std::equal(a.begin(), a.end() - 4, b.begin()))
                Refuse("The change would create a duplicate value in the index '" + index.Name + "' of the table '" +
                       def.Name + "'.");
        }
    }
    const std::uint8_t rootType = image.Page(index.RootPage)[0];
    if (rootType != 0x03 && rootType != 0x04) image.Damaged();
    TUsageMap map(image, index.MapPointer);
    // The index's other pages are used again first; what is left over is given back.
    std::vector<std::uint32_t> spare;
    for (std::uint32_t p : map.Pages())
        if (p != index.RootPage) spare.push_back(p);
    std::set<std::uint32_t> pages{index.RootPage};
    std::size_t nextSpare = 0;
    WriteIndexTree(image, def.Page, index.RootPage, entries, [&]() {
        std::uint32_t page;
        if (nextSpare < spare.size()) {
            page = spare[nextSpare++];
        } else {
            page = image.AppendPage();
            added.push_back(page);
        }
        pages.insert(page);
        return page;
    });
    freed.insert(freed.end(), spare.begin() + static_cast<std::ptrdiff_t>(nextSpare), spare.end());
    map.Set(pages);
    map.Store();
    added.insert(added.end(), map.NewMapPages().begin(), map.NewMapPages().end());
    // The definition counts distinct keys, as a freshly built index has them.
    std::size_t distinct = 0;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const TBytes& e = entries[i].Bytes;
        if (i == 0 || !std::equal(e.begin(), e.end() - 4, entries[i - 1].Bytes.begin(), entries[i - 1].Bytes.end() - 4))
            ++distinct;
    }
    Put32(image.Page(def.Page) + index.CountOffset, static_cast<std::uint32_t>(distinct));
}

}  // namespace

void SetWriteStepHook(std::function<void(std::string_view step)> hook) { StepHook() = std::move(hook); }

std::string WriteRefusal(const std::string& path, const std::string& table)
{
    try {
        TImage image = LoadForWriting(path);
        const TTableDef def = FindTable(image, table);
        if (!def.Refusal.empty()) return def.Refusal;
        const TUsageMap used(image, def.UsedMap);
        ScanRows(image, def, used.Pages(), true);  // refuses records moved out of their pages
        return {};
    } catch (const EProviderError& e) {
        return e.what();
    }
}

TTableData ApplyRecordChange(const std::string& path, const std::string& table, const TRecordChange& change,
                             const TTableData* readEarlier)
{
    using K = TRecordChange::TKind;
    const TWriteTurn turn(path);
    TImage image = LoadForWriting(path);
    const TBytes original = image.Bytes();
    TTableDef def = FindTable(image, table);
    if (!def.Refusal.empty()) Refuse(def.Refusal);
    const TTableData before = ReadRecordsIsolated(path, def.Name, false);
    if (readEarlier && !SameTable(*readEarlier, before))
        Refuse("The table '" + def.Name +
               "' was changed by another program since it was read; refresh it and make the change again.");

    // Fields are named by their place in the table as read; the definition may list them in
    // another order.
    std::vector<std::size_t> defColumn(before.Columns.size());
    for (std::size_t c = 0; c < before.Columns.size(); ++c) {
        const auto it = std::find_if(def.Columns.begin(), def.Columns.end(),
                                     [&](const TColumnDef& col) { return col.Name == before.Columns[c].Info.Name; });
        if (it == def.Columns.end()) image.Damaged();
        defColumn[c] = static_cast<std::size_t>(it - def.Columns.begin());
    }
    std::vector<std::optional<TParsedValue>> assigned(before.Columns.size());
    if (change.Kind != K::Delete) {
        for (const TFieldText& value : change.Values) {
            if (value.Field < 0 || static_cast<std::size_t>(value.Field) >= before.Columns.size())
                Refuse("Field index out of range");
            const TColumnDef& col = def.Columns[defColumn[static_cast<std::size_t>(value.Field)]];
            if (col.AutoLong() || col.AutoGuid())
                Refuse("The field '" + col.Name + "' is an AutoNumber field; its values are assigned by the database.");
            assigned[static_cast<std::size_t>(value.Field)] = TValueParser(col).Parse(value.Text);
        }
    }

    TUsageMap used(image, def.UsedMap);
    const std::vector<TStoredRow> stored = ScanRows(image, def, used.Pages(), true);
    if (static_cast<std::int32_t>(stored.size()) != before.RecordCount)
        Refuse("The table '" + def.Name + "' does not read the same way through every path; it cannot be changed safely.");
    // Records are kept as their stored bytes; only the changed one is taken apart.
    std::vector<TView> rowBytes;
    rowBytes.reserve(stored.size() + 1);
    for (const TStoredRow& s : stored) rowBytes.push_back(s.In(original));
    TBytes changedBytes;

    const bool needsRecord = change.Kind != K::Insert;
    if (needsRecord && (change.Record < 0 || change.Record >= before.RecordCount))
        Refuse("The table '" + def.Name + "' has no record " + std::to_string(change.Record + 1) + ".");
    auto apply = [&](TRowFields& fields) {
        for (std::size_t c = 0; c < assigned.size(); ++c) {
            if (!assigned[c]) continue;
            const std::size_t d = defColumn[c];
            fields.Present[d] = assigned[c]->Present;
            fields.Data[d] = assigned[c]->Data;
        }
    };
    std::optional<TRowFields> changed;
    std::size_t changedRow = 0;
    switch (change.Kind) {
    case K::Update:
        changedRow = static_cast<std::size_t>(change.Record);
        changed = SplitRow(def, rowBytes[changedRow], image);
        apply(*changed);
        changedBytes = JoinRow(def, *changed);
        rowBytes[changedRow] = changedBytes;
        break;
    case K::Insert: {
        changed.emplace();
        changed->Present.assign(def.Columns.size(), false);
        changed->Data.assign(def.Columns.size(), {});
        for (std::size_t c = 0; c < before.Columns.size(); ++c) {
            const TColumnDef& col = def.Columns[defColumn[c]];
            if (col.AutoGuid())
                Refuse("The table '" + def.Name + "' numbers its records with replication IDs, which this program cannot assign.");
            if (!col.AutoLong()) continue;
            if (def.AutoNumber >= static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max()))
                Refuse("The AutoNumber field '" + col.Name + "' has no values left.");
            ++def.AutoNumber;
            TParsedValue v;
            v.Present = true;
            v.Kind = TCellKind::Number;
            v.Number = def.AutoNumber;
            v.Data.resize(4);
            Put32(v.Data.data(), def.AutoNumber);
            assigned[c] = v;
        }
        apply(*changed);
        changedBytes = JoinRow(def, *changed);
        rowBytes.push_back(changedBytes);
        changedRow = rowBytes.size() - 1;
        break;
    }
    case K::Delete: rowBytes.erase(rowBytes.begin() + change.Record); break;
    }
    if (changed) {
        if (rowBytes[changedRow].size() + DataHeader + 2 > PageSize)
            Refuse("The record is too long for a page of the table '" + def.Name + "'.");
        for (const TRealIndex& index : def.Indexes) {
            if (!index.Primary) continue;
            for (const TIndexColumn& ic : index.Columns)
                if (!changed->Present[ic.Column])
                    Refuse("The field '" + def.Columns[ic.Column].Name + "' belongs to the primary key '" + index.Name +
                           "' and cannot be empty.");
        }
    }
    std::vector<TRowFields> rows;  // taken apart for the index keys, when there are indexes
    if (!def.Indexes.empty())
        for (const TView bytes : rowBytes) rows.push_back(SplitRow(def, bytes, image));

    TRowFields empty;
    empty.Present.assign(def.Columns.size(), false);
    empty.Data.assign(def.Columns.size(), {});
    const TLayout layout = LayOutRows(image, def, used.Pages(), rowBytes, JoinRow(def, empty).size());
    std::set<std::uint32_t> owned = used.Pages();
    owned.insert(layout.NewPages.begin(), layout.NewPages.end());
    for (std::uint32_t p : layout.Emptied) owned.erase(p);
    used.Set(owned);
    used.Store();
    TUsageMap free(image, def.FreeMap);
    std::set<std::uint32_t> room = free.Pages();
    for (std::uint32_t p : layout.DataPages) room.erase(p);
    room.insert(layout.PagesWithRoom.begin(), layout.PagesWithRoom.end());
    for (std::uint32_t p : layout.Emptied) room.erase(p);
    free.Set(room);
    free.Store();

    std::vector<std::uint32_t> added = layout.NewPages;
    std::vector<std::uint32_t> freed = layout.Emptied;
    for (TRealIndex& index : def.Indexes) RebuildIndex(image, def, index, rows, layout.Pointers, added, freed);

    std::uint8_t* tdef = image.Page(def.Page);
    Put32(tdef + 16, static_cast<std::uint32_t>(rowBytes.size()));
    Put32(tdef + 20, def.AutoNumber);

    added.insert(added.end(), used.NewMapPages().begin(), used.NewMapPages().end());
    added.insert(added.end(), free.NewMapPages().begin(), free.NewMapPages().end());
    MarkPagesInUse(image, added, true);
    MarkPagesInUse(image, freed, false);
    // The new state must hold together on its own before it goes anywhere near the disk.
    {
        const TTableDef rebuilt = ReadTableDef(image, def.Page, def.Name);
        const TUsageMap owned(image, rebuilt.UsedMap);
        const auto scanned = ScanRows(image, rebuilt, owned.Pages(), true);
        if (rebuilt.RowCount != rowBytes.size() || scanned.size() != rowBytes.size())
            Refuse("The change to the table '" + def.Name + "' could not be laid out consistently; nothing was written.");
    }
    Step("built");

    const TBytes& bytes = image.Bytes();
    try {
        ReplaceFileContents(path, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), StepHook());
    } catch (const EFileWriteError& e) {
        Refuse("The database file '" + path + "' cannot be written: " + e.what());
    }
    try {
        TTableData after = ReadRecordsIsolated(path, def.Name, false);
        CheckReadBack(before, after, change, assigned, def.Name);
        Step("verified");
        return after;
    } catch (const std::exception& e) {
        try {
            ReplaceFileContents(path, std::string_view(reinterpret_cast<const char*>(original.data()), original.size()));
        } catch (const EFileWriteError& restore) {
            throw EProviderError(std::string(e.what()) + " The previous file could not be put back: " + restore.what());
        }
        throw EProviderError(std::string(e.what()) + " The file was put back as it was before the change.");
    }
}

}  // namespace quorlin
