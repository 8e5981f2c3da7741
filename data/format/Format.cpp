#include "data/format/Format.h"

#include "support/Messages.h"

namespace quorlin::jet {

namespace {

constexpr TFormat Jet3{
    .Version = TVersion::Jet3,
    .PageSize = 2048,
    .MaxFileSize = std::uint64_t{1} << 30,
    .DataFreeSpace = 2,
    .DataOwner = 4,
    .DataRowCount = 8,
    .DataRowOffsets = 10,
    .TdefNextPage = 4,
    .TdefContinuation = 8,
    .TdefRowCount = 12,
    .TdefAutoNumber = 16,
    .TdefTableType = 20,
    .TdefMaxColumns = 21,
    .TdefVarColumns = 23,
    .TdefColumnCount = 25,
    .TdefLogicalIndexCount = 27,
    .TdefRealIndexCount = 31,
    .TdefOwnedPages = 35,
    .TdefFreePages = 39,
    .TdefRealIndexCounts = 43,
    .RealIndexCountSize = 8,
    .RealIndexCountRows = 4,
    .ColumnSize = 18,
    .ColumnType = 0,
    .ColumnNumber = 1,
    .ColumnVarIndex = 3,
    .ColumnCodePage = 9,
    .ColumnPrecision = 9,
    .ColumnScale = 10,
    .ColumnFlags = 13,
    .ColumnFixedOffset = 14,
    .ColumnLength = 16,
    .ColumnSortOrder = 9,  // Jet 3 text is never keyed here; its code page stands in this place
    .ColumnSortVersion = 11,
    .NameLengthSize = 1,
    .RealIndexSize = 39,
    .RealIndexColumns = 0,
    .RealIndexOwnedPages = 30,
    .RealIndexRoot = 34,
    .RealIndexFlags = 38,
    .LogicalIndexSize = 20,
    .LogicalIndexNumber = 0,
    .LogicalIndexReal = 4,
    .LogicalIndexSide = 8,
    .LogicalIndexRelated = 9,
    .LogicalIndexRelatedTable = 13,
    .LogicalIndexCascadeUpdates = 17,
    .LogicalIndexCascadeDeletes = 18,
    .LogicalIndexType = 19,
    .RowNumberSize = 1,
};

constexpr TFormat Jet4{
    .Version = TVersion::Jet4,
    .PageSize = 4096,
    .MaxFileSize = std::uint64_t{1} << 31,
    .DataFreeSpace = 2,
    .DataOwner = 4,
    .DataRowCount = 12,
    .DataRowOffsets = 14,
    .TdefNextPage = 4,
    .TdefContinuation = 8,
    .TdefRowCount = 16,
    .TdefAutoNumber = 20,
    .TdefTableType = 40,
    .TdefMaxColumns = 41,
    .TdefVarColumns = 43,
    .TdefColumnCount = 45,
    .TdefLogicalIndexCount = 47,
    .TdefRealIndexCount = 51,
    .TdefOwnedPages = 55,
    .TdefFreePages = 59,
    .TdefRealIndexCounts = 63,
    .RealIndexCountSize = 12,
    .RealIndexCountRows = 4,
    .ColumnSize = 25,
    .ColumnType = 0,
    .ColumnNumber = 5,
    .ColumnVarIndex = 7,
    .ColumnCodePage = 0,  // Jet 4 text is UTF-16
    .ColumnPrecision = 11,
    .ColumnScale = 12,
    .ColumnFlags = 15,
    .ColumnFixedOffset = 21,
    .ColumnLength = 23,
    .ColumnSortOrder = 11,
    .ColumnSortVersion = 14,
    .NameLengthSize = 2,
    .RealIndexSize = 52,
    .RealIndexColumns = 4,
    .RealIndexOwnedPages = 34,
    .RealIndexRoot = 38,
    .RealIndexFlags = 46,
    .LogicalIndexSize = 28,
    .LogicalIndexNumber = 4,
    .LogicalIndexReal = 8,
    .LogicalIndexSide = 12,
    .LogicalIndexRelated = 13,
    .LogicalIndexRelatedTable = 17,
    .LogicalIndexCascadeUpdates = 21,
    .LogicalIndexCascadeDeletes = 22,
    .LogicalIndexType = 23,
    .RowNumberSize = 2,
};

// ACE keeps the Jet 4 layout; what differs (complex columns, sort orders) is in the contents.
constexpr TFormat Ace = [] {
    TFormat f = Jet4;
    f.Version = TVersion::Ace;
    return f;
}();

}  // namespace

const TFormat* FormatOf(std::uint8_t versionByte) noexcept
{
    switch (versionByte) {
    case TVersionByte::Jet3: return &Jet3;
    case TVersionByte::Jet4: return &Jet4;
    case TVersionByte::Ace12:
    case TVersionByte::Ace14:
    case TVersionByte::Ace15:
    case TVersionByte::Ace16:
    case TVersionByte::Ace17: return &Ace;
    default: return nullptr;
    }
}

std::string UnknownVersionText(const std::string& path, std::uint8_t versionByte)
{
    return quorlin::Format(Tr("The database '%1$s' is in version %2$s of the Access file format, which this program does not "
                     "know; it reads versions %3$s (Access 97) to %4$s (Access 2019 and later)."),
                  path, int{versionByte}, int{TVersionByte::Jet3}, int{TVersionByte::Newest});
}

const TFormat& Jet4Format() noexcept { return Jet4; }

const char* VersionName(TVersion version) noexcept
{
    switch (version) {
    case TVersion::Jet3: return "Access 97";
    case TVersion::Jet4: return "Access 2000-2003";
    case TVersion::Ace: return "Access 2007 or later";
    }
    return "Access";
}

}  // namespace quorlin::jet
