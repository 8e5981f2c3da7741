#pragma once
// How much memory the records of one table or view may take. A saved query can describe a view
// of any size (a table joined with itself a few times has more records than any machine holds),
// so records are taken only up to a limit, checked before the memory is allocated, and a view
// beyond it is refused with what was reached rather than exhausting the program.

#include <cstddef>
#include <cstdint>
#include <string>

#include "data/records/ProviderError.h"
#include "data/records/TableData.h"

namespace quorlin {

// The records would take more than they may; the text says which limit and what was reached.
class ERecordsTooLarge : public EProviderError {
public:
    using EProviderError::EProviderError;
};

// Bytes the records of one table or view may take: QUORLIN_RECORD_MEMORY (bytes, or a number
// with K, M or G, e.g. 512M), else 2 GiB, or half of the machine's memory or of the address
// space this process may use, when that is less. The reading process bounds its evaluation of a
// view by the same figure.
std::uint64_t RecordMemoryLimit();

// "2 GiB", "512 MiB", "1.5 KiB", "300 bytes", for messages.
std::string MemoryText(std::uint64_t bytes);

// "The view 'name' is too large to open: why" (or the table): what every bound a read meets
// tells the user.
std::string TooLargeToOpen(bool view, const std::string& name, const std::string& why);

// The storage of a table's columns, grown only here and each time checked against the limit
// before it is allocated: the records of one table stay within the limit whatever a stream
// claims or carries.
class TRecordBudget {
public:
    // table has its columns, without records; expectedRecords, a hint of the stream, is
    // allocated at once where it fits.
    TRecordBudget(TTableData& table, std::uint64_t limit, std::int32_t expectedRecords);

    // Room for one more record in every column; raises ERecordsTooLarge when it does not fit.
    void MakeRoom();
    // Storage for the texts of column, which until now held none.
    void StartTexts(TColumnData& column);
    // A text of bytes bytes is about to be stored.
    void TakeText(std::size_t bytes);
    // The bytes the columns' storage holds.
    std::uint64_t Held() const noexcept;

private:
    [[noreturn]] void TooLarge() const;

    TTableData& FTable;
    std::uint64_t FLimit;
    std::size_t FHint;
    std::uint64_t FPerRecord = 0;
    std::size_t FCapacity = 0;      // records the kinds and numbers of every column have room for
    std::size_t FRoom = 0;          // records every storage has room for: texts begun late may have less
    std::uint64_t FStorage = 0;     // bytes of the columns' storage
    std::uint64_t FTextBytes = 0;   // bytes of the longer texts, beyond their strings
};

}  // namespace quorlin
