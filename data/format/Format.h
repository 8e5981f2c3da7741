#pragma once
// The Access database format, as the reader and the writer both see it. Every position of a
// structure in the file is named here and nowhere else.
//
// Facts about the format that the code relies on:
//  1. A file is a sequence of pages of one size (2048 bytes in Jet 3, 4096 in Jet 4 and ACE);
//     the first byte of a page says what it holds. Page 0 describes the database; byte 0x14 of
//     it names the version.
//  2. Numbers in pages are little-endian. A row is addressed by a row pointer: the page number
//     in the high 24 bits, the row's slot on that page in the low 8.
//  3. A data page lists its rows in a table of 16-bit row offsets after its header. Rows are
//     stored from the end of the page backwards: row 0 ends at the end of the page, row i ends
//     where row i - 1 starts. The top bits of an offset are flags (see TRowFlag).
//  4. A record lives in one row. When Access moves a record that grew, its first row (the header
//     row) keeps only a row pointer to the record's new place and the overflow flag; the row it
//     points at is flagged deleted, so that a scan of the pages does not meet the record twice.
//     A deleted record keeps its header row with the deleted flag.
//  5. A table is described by its definition (TDEF) page, which may go on over further TDEF pages
//     chained through their next-page field; the contents of the continuation pages follow the
//     first page's after their own short header.
//  6. The pages a table owns are listed by a usage map: a row holding either a bitmap of pages
//     from a start page (inline map) or pointers to bitmap pages (reference map), each of which
//     covers a fixed range of pages from page 0.
//  7. Memo and OLE values longer than a few bytes live in long-value rows on pages whose owner
//     field holds the text "LVAL" instead of a TDEF page; a long value may be a chain of such rows,
//     each starting with the row pointer of the next (0 in the last). No table's usage map lists
//     long-value pages; the database's map of free pages has them in use until they are freed.
//  8. The catalog of tables and queries is the table MSysObjects, whose definition is always at
//     page 2.
//  9. A text column names the sort order its index keys follow (Jet 4 and ACE): a locale and a
//     version, the version telling Access 2010's General sort order from the one before it.
// 10. A text value's index key is a sequence of sort weights, one or more bytes a character, case
//     folded away; then the accents by position; then the marks of case or width some characters
//     carry; then the characters that have no weight of their own (apostrophe, hyphen, control
//     characters), each with its position (TTextKey).
// 11. A relationship whose rules Access enforces is kept in the definitions of both its tables,
//     as a logical index of each: the index names the other table's TDEF page and the number of
//     the other's logical index, says which side this table is (TRelatedSide), and, on the side
//     of the table referred to, whether updates and deletes cascade (TCascade). The index's
//     fields, in order, are the related fields. Relationships Access does not enforce are only
//     in MSysRelationships and bind no record.
// 12. A table's definition lists its columns' descriptors in the order Access shows the columns:
//     a field moved in the table's design moves there, and Access lists the columns of its own
//     tables by name. A column's number (its bit in the null mask) only places its value in the
//     row; numbers follow the order the columns were made in, which need not be the order shown.

#include <cstddef>
#include <cstdint>
#include <string>

namespace quorlin::jet {

enum class TVersion : std::uint8_t { Jet3, Jet4, Ace };

enum class TPageType : std::uint8_t {
    Database = 0x00,
    Data = 0x01,
    TableDefinition = 0x02,
    IndexNode = 0x03,
    IndexLeaf = 0x04,
    UsageMap = 0x05,
};

// The start of data, index and usage-map pages: the type, then a byte Access always sets to 1.
namespace page_header {
constexpr std::size_t Type = 0;
constexpr std::size_t Mark = 1;
constexpr std::uint8_t MarkValue = 0x01;
}  // namespace page_header

// The byte at database_page::Version. The ACE versions after ACE 14 keep its page layout: what
// Access 2016 and later added (the Large Number and the extended Date/Time types) is in the
// contents of a table's definition, not in where things are. A byte beyond the newest known is
// refused, not guessed at, since a later version may well move things.
struct TVersionByte {
    static constexpr std::uint8_t Jet3 = 0x00;   // Access 97
    static constexpr std::uint8_t Jet4 = 0x01;   // Access 2000 to 2003
    static constexpr std::uint8_t Ace12 = 0x02;  // Access 2007
    static constexpr std::uint8_t Ace14 = 0x03;  // Access 2010 and 2013
    static constexpr std::uint8_t Ace15 = 0x04;
    static constexpr std::uint8_t Ace16 = 0x05;  // Access 2016
    static constexpr std::uint8_t Ace17 = 0x06;  // Access 2019 and the releases after it
    static constexpr std::uint8_t Newest = Ace17;
};

// The database page (page 0).
namespace database_page {
constexpr std::size_t Version = 0x14;         // TVersionByte; before the scrambled part, so it stands in clear
constexpr std::uint32_t CatalogPage = 2;      // the TDEF page of MSysObjects
constexpr std::uint32_t GlobalMapPage = 1;    // the page whose row GlobalMapRow maps the free pages of the file
constexpr std::uint32_t GlobalMapRow = 0;
// From ScrambledStart on the page is scrambled (RC4 with ScrambleKey, the same in every file).
// Among those bytes, at Jet3CodePage, is the code page of a Jet 3 file's text (16 bits; when it
// is 0, DefaultCodePage).
constexpr std::size_t ScrambledStart = 0x18;
constexpr std::uint8_t ScrambleKey[4] = {0xC7, 0xDA, 0x39, 0x6B};
constexpr std::size_t Jet3CodePage = 0x3C;
constexpr unsigned DefaultCodePage = 1252;
static_assert(Version < ScrambledStart, "the version is read before anything is unscrambled");
}  // namespace database_page

// The rows of MSysObjects (fact 8): an object's Id keeps its TDEF page in IdPageMask, its Type
// the kind of object in TypeMask; Access's own tables have a bit of SystemFlags set in Flags.
namespace catalog {
constexpr std::uint32_t IdPageMask = 0x00FFFFFF;
constexpr std::int16_t TypeMask = 0x7FFF;
constexpr std::uint32_t SystemFlags = 0x80000002;
}  // namespace catalog

// The flags in the top bits of a row offset.
struct TRowFlag {
    static constexpr std::uint16_t Deleted = 0x8000;   // deleted, or the moved copy of a record (fact 4)
    static constexpr std::uint16_t Overflow = 0x4000;  // a header row holding only a row pointer
    static constexpr std::uint16_t OffsetMask = 0x1FFF;
};
constexpr std::size_t RowOffsetSize = 2;  // an entry of a data page's row-offset table
// Jet 3 rows keep one-byte variable-length offsets; each entry of their jump table adds this
// much to the offsets of the columns from the one it names on.
constexpr std::size_t Jet3OffsetJump = 256;

// A row pointer (fact 2).
struct TRowId {
    std::uint32_t Page = 0;
    std::uint32_t Row = 0;
    static TRowId Unpack(std::uint32_t packed) noexcept { return {packed >> 8, packed & 0xFF}; }
    std::uint32_t Packed() const noexcept { return Page << 8 | Row; }
    friend bool operator==(const TRowId&, const TRowId&) = default;
    friend auto operator<=>(const TRowId&, const TRowId&) = default;
};
constexpr std::size_t RowIdSize = 4;
constexpr std::uint32_t MaxRowsPerPage = 255;  // the slot is one byte of a row pointer

// A column's flag byte in the table definition.
struct TColumnFlag {
    static constexpr std::uint8_t Fixed = 0x01;     // stored in the fixed part of the row
    static constexpr std::uint8_t AutoLong = 0x04;  // AutoNumber (Long)
    static constexpr std::uint8_t AutoGuid = 0x40;  // AutoNumber (replication ID)
};

// An index's flag byte.
struct TIndexFlag {
    static constexpr std::uint8_t Unique = 0x01;
    static constexpr std::uint8_t IgnoreNulls = 0x02;
};
// Access keeps the record count of its own tables loosely; only user tables are held to it.
constexpr std::uint8_t SystemTableType = 0x53;

constexpr std::uint8_t PrimaryKeyIndex = 0x01;  // a logical index's type
constexpr std::uint32_t NoRelatedIndex = 0xFFFFFFFF;

// Which side of an enforced relationship a table's logical index stands for (fact 11).
struct TRelatedSide {
    static constexpr std::uint8_t Referred = 0x01;   // holds the records the other table refers to
    static constexpr std::uint8_t Referring = 0x02;  // refers to records of the other table
};
// What follows a change of a referred-to record (fact 11): the byte for updates holds Cascade
// or 0, the byte for deletes Cascade, SetNull or 0 (0: refused while related records exist).
struct TCascade {
    static constexpr std::uint8_t Cascade = 0x01;
    static constexpr std::uint8_t SetNull = 0x02;
};
constexpr std::size_t IndexColumnSlots = 10;     // columns a real index can name
constexpr std::uint16_t NoIndexColumn = 0xFFFF;
constexpr std::uint8_t AscendingIndexColumn = 0x01;

// A long value's 12-byte reference in the row (fact 7): its length with two flags in the top
// bits, then the row pointer of its first long-value row.
struct TLongValue {
    static constexpr std::size_t ReferenceSize = 12;
    static constexpr std::size_t Pointer = 4;
    static constexpr std::uint32_t Inline = 0x80000000;  // the value follows the reference in the row
    static constexpr std::uint32_t SingleRow = 0x40000000;  // the value is one long-value row
    static constexpr std::uint32_t LengthMask = 0x3FFFFFFF;
    static constexpr std::uint8_t Owner[4] = {'L', 'V', 'A', 'L'};
};

// Text in Jet 4 may be compressed: after this mark, runs of one-byte characters alternate with
// runs of two-byte ones, a zero byte switching between them.
constexpr std::uint8_t CompressedTextMark[2] = {0xFF, 0xFE};

// Where a Decimal keeps its sign (a set bit: negative) and its 16-byte magnitude: four 32-bit
// words, the most significant first, each little-endian.
constexpr std::size_t DecimalSize = 17;
constexpr std::uint8_t DecimalNegative = 0x80;  // the sign byte Access writes for a negative value

constexpr std::size_t GuidSize = 16;  // a replication ID

// Currency is a 64-bit count of units of 10^-CurrencyScale.
constexpr unsigned CurrencyScale = 4;

// A DateTime is a Double counting days from 1899-12-30, the time of day as the fraction; before
// that day the fraction still counts forward, the value being negative. Access takes the years
// FirstYear to LastYear.
struct TDateEpoch {
    static constexpr int Year = 1899;
    static constexpr unsigned Month = 12;
    static constexpr unsigned Day = 30;
    static constexpr int FirstYear = 100;
    static constexpr int LastYear = 9999;
};

// Usage maps (fact 6).
struct TUsageMapLayout {
    static constexpr std::uint8_t InlineMap = 0x00;
    static constexpr std::uint8_t ReferenceMap = 0x01;
    static constexpr std::size_t InlineStart = 1;   // the first page the bitmap covers
    static constexpr std::size_t InlineBits = 5;    // the bitmap of an inline map
    static constexpr std::size_t References = 1;    // the page pointers of a reference map
    static constexpr std::size_t ReferenceSize = 4; // one pointer: a usage-map page, or 0 for none
    static constexpr std::size_t MapPageBits = 4;   // the bitmap on a usage-map page
};

// Everything that differs between the versions.
struct TFormat {
    TVersion Version;
    std::size_t PageSize;
    // The largest file the version allows. A reference map keeps pointers for more ranges of
    // pages than such a file has, and Access leaves values that are no page in the ones beyond.
    std::uint64_t MaxFileSize;

    // Data pages (fact 3).
    std::size_t DataFreeSpace;   // 16 bits: bytes free on the page
    std::size_t DataOwner;       // 32 bits: the owner's TDEF page, or "LVAL"
    std::size_t DataRowCount;    // 16 bits: entries in the row-offset table
    std::size_t DataRowOffsets;  // the row-offset table

    // Table definition (fact 5), positions in the definition's bytes.
    std::size_t TdefNextPage;        // 32 bits, on every TDEF page
    std::size_t TdefContinuation;    // where a continuation page's contents begin
    std::size_t TdefRowCount;        // 32 bits: records in the table
    std::size_t TdefAutoNumber;      // 32 bits: the last AutoNumber handed out
    std::size_t TdefTableType;       // 8 bits: SystemTableType for Access's own tables
    std::size_t TdefMaxColumns;      // 16 bits: columns a row may hold, deleted ones included
    std::size_t TdefVarColumns;      // 16 bits
    std::size_t TdefColumnCount;     // 16 bits
    std::size_t TdefLogicalIndexCount;  // 32 bits
    std::size_t TdefRealIndexCount;     // 32 bits
    std::size_t TdefOwnedPages;      // row pointer of the usage map of the table's pages
    std::size_t TdefFreePages;       // row pointer of the map of its pages with room
    std::size_t TdefRealIndexCounts; // the first block: one entry a real index
    std::size_t RealIndexCountSize;  // size of one entry of that block
    std::size_t RealIndexCountRows;  // within it, 32 bits: the index's entry count

    // A column's descriptor.
    std::size_t ColumnSize;
    std::size_t ColumnType;          // 8 bits
    std::size_t ColumnNumber;        // 16 bits: its place in the null mask
    std::size_t ColumnVarIndex;      // 16 bits: its place in the variable-length offset table
    std::size_t ColumnCodePage;      // 16 bits, Jet 3 text only: the code page of its bytes
    std::size_t ColumnPrecision;     // 8 bits, Decimal
    std::size_t ColumnScale;         // 8 bits, Decimal
    std::size_t ColumnFlags;         // 8 bits: TColumnFlag
    std::size_t ColumnFixedOffset;   // 16 bits: its place in the fixed part of the row
    std::size_t ColumnLength;        // 16 bits: bytes in the row
    std::size_t ColumnSortOrder;     // 16 bits, Jet 4 and ACE text only: the locale of its sort order (fact 9)
    std::size_t ColumnSortVersion;   // 8 bits, Jet 4 and ACE text only: that sort order's version

    // Names of columns and indexes: a length of this many bytes, then the name (Jet 3: bytes in
    // the file's code page; later: UTF-16).
    std::size_t NameLengthSize;

    // A real index's descriptor.
    std::size_t RealIndexSize;
    std::size_t RealIndexColumns;    // IndexColumnSlots of (16-bit column number, 8-bit order)
    std::size_t RealIndexOwnedPages; // row pointer of the index's usage map
    std::size_t RealIndexRoot;       // 32 bits: the index's root page
    std::size_t RealIndexFlags;      // 8 bits: TIndexFlag

    // A logical index's descriptor.
    std::size_t LogicalIndexSize;
    std::size_t LogicalIndexNumber;  // 32 bits: the number other tables' indexes know it by
    std::size_t LogicalIndexReal;    // 32 bits: the real index behind it
    std::size_t LogicalIndexSide;    // 8 bits: TRelatedSide, in a relationship
    std::size_t LogicalIndexRelated; // 32 bits: the related table's index, or NoRelatedIndex
    std::size_t LogicalIndexRelatedTable;  // 32 bits: the related table's TDEF page
    std::size_t LogicalIndexCascadeUpdates;  // 8 bits: TCascade
    std::size_t LogicalIndexCascadeDeletes;  // 8 bits: TCascade
    std::size_t LogicalIndexType;    // 8 bits: PrimaryKeyIndex, foreign key, plain

    // Rows: the size of the column count, of a variable-length offset and of the count of them.
    std::size_t RowNumberSize;
};

// Index pages (Jet 4 and ACE; Jet 3 files are never written). Positions in the page.
struct TIndexPageLayout {
    static constexpr std::size_t FreeSpace = 2;       // 16 bits: bytes left after the entries
    static constexpr std::size_t Owner = 4;           // 32 bits: the table's TDEF page
    static constexpr std::size_t Previous = 0x0C;     // 32 bits: the page before, on this level
    static constexpr std::size_t Next = 0x10;         // 32 bits: the page after, on this level
    static constexpr std::size_t Tail = 0x14;         // 32 bits: a node's last child
    static constexpr std::size_t PrefixLength = 0x18; // 16 bits: bytes every entry shares
    static constexpr std::size_t EntryMask = 0x1B;    // a bit where each entry ends
    static constexpr std::size_t Entries = 0x1E0;
    static constexpr std::size_t ChildPointer = 4;    // a node entry ends in its child's page, big-endian
};

// An index key: for each column a flag byte, then the value in a form whose bytes sort as the
// values do (big-endian; integers with the sign bit flipped, floating-point numbers too when
// positive and with every bit inverted when negative), all of it inverted for a descending column.
// An index entry is the key followed by its record's row pointer (RowIdSize bytes), big-endian.
struct TIndexKey {
    static constexpr std::uint8_t NullField = 0x00;
    static constexpr std::uint8_t ValueField = 0x7F;
    static constexpr std::uint8_t SignBit = 0x80;  // of the value's first byte
};

// A text value in an index key (fact 10), in either General sort order: that of Access 2000 to
// 2007 (LegacyVersion) and that of Access 2010 and later (GeneralVersion), both of locale
// GeneralLocale. They differ only in what each character adds (SortOrder.h: its TCharKind and
// codes). After the key's flag byte come:
//  1. the weights of the characters that have one, in order; then EndWeights;
//  2. the accents, from the first character that has one (or a modifier) on: each weighed
//     character's accent bytes, NoAccent for one without; a modifier adds its amount to the
//     accent byte before it, or stands first when there is none; trailing bytes up to NoAccent
//     are left out;
//  3. when a character is marked or positioned: EndWeights twice more; then, when some are
//     marked, their marks, MarksPerByte to a byte under MarkStart (the first in the highest
//     bits), trailing MarkDefault left out, then MarksEnd, and MarksThenPositions when
//     positioned characters follow;
//  4. when some are positioned: EndWeights, then for each the 16-bit big-endian
//     PositionFlag | (PositionStart + PositionStep * place), PositionMid and its code. Its place
//     is the count of accent bytes ahead of it, plus the weighed characters since the last
//     accent, less a modifier standing first; before any accent, the weighed characters ahead;
//  5. EndKey.
// Only the first LongestKeyedText UTF-16 units are keyed, spaces at their end left out; each unit
// is keyed alone, the two of a character beyond the Basic Multilingual Plane too.
// A descending index holds that key with every byte inverted, then EndKey again.
struct TTextKey {
    static constexpr std::uint16_t GeneralLocale = 0x0409;
    static constexpr std::uint8_t LegacyVersion = 0;   // the sort order before Access 2010's
    static constexpr std::uint8_t GeneralVersion = 1;  // Access 2010's
    static constexpr std::uint8_t EndWeights = 0x01;
    static constexpr std::uint8_t NoAccent = 0x02;
    static constexpr std::uint8_t MarkStart = 0x80;
    static constexpr std::size_t MarksPerByte = 3;
    static constexpr std::size_t MarkBits = 2;
    static constexpr std::uint8_t MarkDefault = 3;
    static constexpr std::uint8_t MarksEnd[] = {0xFF, 0x02, 0x80, 0xFF, 0x80};
    static constexpr std::uint8_t MarksThenPositions = 0xFF;
    static constexpr std::uint16_t PositionFlag = 0x8000;
    static constexpr std::uint16_t PositionStart = 7;
    static constexpr std::uint16_t PositionStep = 4;
    static constexpr std::uint8_t PositionMid = 0x06;
    static constexpr std::uint8_t EndKey = 0x00;
    static constexpr std::size_t LongestKeyedText = 255;
};

// The rows Access keeps of a saved query in its query table (MSysQueries): each row's Attribute
// says what it describes, and Flag, Name1, Name2 and Expression carry it.
namespace query_table {
constexpr int Kind = 1;       // Flag: the kind of query
constexpr int Parameter = 2;  // a parameter the query asks for
constexpr int Options = 3;    // Flag: OptionFlags; Name1: the count of TOP
constexpr int Input = 5;      // Name1: a table or query read; Name2: its alias
constexpr int Column = 6;     // Expression AS Name1
constexpr int Join = 7;       // Name1 JoinKind Name2 ON Expression
constexpr int Where = 8;
constexpr int GroupBy = 9;
constexpr int Having = 10;
constexpr int OrderBy = 11;   // Name1 "D" for descending
constexpr int SelectKind = 1;  // the Flag of Kind for a select query
constexpr char Descending[] = "D";
struct TOptionFlag {
    static constexpr int Distinct = 0x02;
    static constexpr int DistinctRow = 0x08;
    static constexpr int Top = 0x10;
    static constexpr int Percent = 0x20;
};
struct TJoinKind {
    static constexpr int Inner = 1;
    static constexpr int Left = 2;
    static constexpr int Right = 3;
};
}  // namespace query_table

// The format of a file from its first page; none when byte 0x14 names no version we know.
const TFormat* FormatOf(std::uint8_t versionByte) noexcept;
// Why a file whose version byte names no version we know is not read, in words for the user.
std::string UnknownVersionText(const std::string& path, std::uint8_t versionByte);
const TFormat& Jet4Format() noexcept;
const char* VersionName(TVersion version) noexcept;

}  // namespace quorlin::jet
