#pragma once
// The stream between the reading process and the program: tables and catalogs as bytes, sent
// record by record so that neither side holds a table twice. The reader checks every length,
// so a stream cut short or garbled can only raise EWireError.

#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "data/records/FileObjects.h"
#include "data/records/ProviderError.h"
#include "data/records/RecordLimit.h"
#include "data/records/TableData.h"

namespace quorlin {

// The stream ended early or holds what no writer writes.
class EWireError : public std::runtime_error {
public:
    EWireError() : std::runtime_error("The stream from the reading process is incomplete") {}
};

class TWireWriter {
public:
    // Bytes go to sink whenever a buffer's worth has gathered, and at Flush.
    explicit TWireWriter(std::function<void(const char*, std::size_t)> sink) : FSink(std::move(sink)) {}
    TWireWriter(const TWireWriter&) = delete;
    TWireWriter& operator=(const TWireWriter&) = delete;

    // A table streams a few bytes at a time, millions of times: each write is a check for room
    // and a copy into the buffer.
    void U8(std::uint8_t v)
    {
        if (FUsed == Capacity) Flush();
        FBuffer[FUsed++] = static_cast<char>(v);
    }
    void I32(std::int32_t v) { Raw(&v, sizeof v); }
    void U64(std::uint64_t v) { Raw(&v, sizeof v); }
    void F64(double v) { Raw(&v, sizeof v); }
    void Str(std::string_view s)
    {
        I32(static_cast<std::int32_t>(s.size()));
        Raw(s.data(), s.size());
    }
    void Raw(const void* p, std::size_t n)
    {
        if (Capacity - FUsed < n) return RawLong(p, n);
        std::memcpy(FBuffer.get() + FUsed, p, n);
        FUsed += n;
    }
    void Flush()
    {
        if (FUsed > 0) FSink(FBuffer.get(), FUsed);
        FUsed = 0;
    }
    bool Empty() const noexcept { return FUsed == 0; }

private:
    static constexpr std::size_t Capacity = std::size_t{1} << 18;
    // What does not fit: the buffer goes first, then the bytes themselves when they would fill
    // it on their own.
    void RawLong(const void* p, std::size_t n)
    {
        Flush();
        if (n >= Capacity) return FSink(static_cast<const char*>(p), n);
        std::memcpy(FBuffer.get(), p, n);
        FUsed = n;
    }
    std::function<void(const char*, std::size_t)> FSink;
    std::unique_ptr<char[]> FBuffer = std::make_unique_for_overwrite<char[]>(Capacity);
    std::size_t FUsed = 0;
};

class TWireReader {
public:
    // source fills at most n bytes at p and returns how many; 0 at the end of the stream.
    explicit TWireReader(std::function<std::size_t(char*, std::size_t)> source) : FSource(std::move(source)) {}
    std::uint8_t U8()
    {
        std::uint8_t v;
        Read(&v, 1);
        return v;
    }
    std::int32_t I32()
    {
        std::int32_t v;
        Read(&v, sizeof v);
        return v;
    }
    std::uint64_t U64()
    {
        std::uint64_t v;
        Read(&v, sizeof v);
        return v;
    }
    double F64()
    {
        double v;
        Read(&v, sizeof v);
        return v;
    }
    std::string Str(std::size_t limit = std::size_t{1} << 30) { return Bytes(Length(limit)); }
    // A text in two steps, for a reader that decides between them whether to take it: its
    // length, then its bytes.
    std::size_t Length(std::size_t limit = std::size_t{1} << 30)
    {
        const std::int32_t n = I32();
        if (n < 0 || static_cast<std::size_t>(n) > limit) throw EWireError();
        return static_cast<std::size_t>(n);
    }
    std::string Bytes(std::size_t n)
    {
        std::string s(n, '\0');
        Read(s.data(), s.size());
        return s;
    }
    // The bytes buffered and not yet read, to be taken with Skip: a record whose cells all lie
    // in the buffer is read straight from it.
    std::string_view Buffered() const noexcept { return {FBuffer.data() + FPos, FEnd - FPos}; }
    void Skip(std::size_t n) noexcept { FPos += n; }
    void Read(void* destination, std::size_t n)
    {
        // Nearly every read is a few bytes from the buffer; only refills take the long way.
        if (FEnd - FPos >= n) {
            std::memcpy(destination, FBuffer.data() + FPos, n);
            FPos += n;
            return;
        }
        Refill(destination, n);
    }

private:
    void Refill(void* destination, std::size_t n);
    std::function<std::size_t(char*, std::size_t)> FSource;
    std::vector<char> FBuffer = std::vector<char>(1 << 16);
    std::size_t FPos = 0;
    std::size_t FEnd = 0;
};

// Records follow the column descriptions one by one; Progress may stand between them. After the
// last record, Retyped may name the columns whose numbers are to be taken as text (a view's
// computed column is known to be textual only once all its values are seen), and Warnings may
// follow; a Fingerprint may stand right before the End.
enum class TWireMark : std::uint8_t {
    Start = 'S',
    Columns = 'C',
    Record = 'R',
    Progress = '.',
    Warning = 'W',
    Retyped = 'T',
    Fingerprint = 'F',
    End = 'Z',
    Failure = 'E',
};

// How many warnings a table may carry, and how long each may be: a reading process that sends
// more has gone wrong.
constexpr std::size_t MaxWireWarnings = 16;
constexpr std::size_t MaxWireWarningSize = std::size_t{1} << 16;

// expectedRecords only sizes the reader's storage in advance.
void WriteColumns(TWireWriter& w, const std::vector<TColumnInfo>& columns, std::int32_t expectedRecords);
// Every value of a table passes here, so it is seen whole by the compiler where it is used.
inline void WriteCell(TWireWriter& w, TCellKind kind, double number, std::string_view text)
{
    w.U8(static_cast<std::uint8_t>(kind));
    if (kind == TCellKind::Number) w.F64(number);
    if (kind == TCellKind::Text) w.Str(text);
}
// On the stream only: a Number cell followed by its exact decimal text.
constexpr std::uint8_t ExactNumberCell = 3;
// A number with its exact decimal text goes as a number followed by the text.
inline void WriteCell(TWireWriter& w, const TCellValue& value)
{
    if (value.Kind != TCellKind::Number || value.Text.empty()) return WriteCell(w, value.Kind, value.Number, value.Text);
    w.U8(ExactNumberCell);
    w.F64(value.Number);
    w.Str(value.Text);
}
// After the last record: the columns whose numbers become text, each shown as FormatGeneral
// writes it, and whose type becomes Text.
void WriteRetyped(TWireWriter& w, const std::vector<std::int32_t>& columns);
// After the last record and any retyped columns: what the user should be told of the reading
// (TTableData::Warnings).
void WriteWarning(TWireWriter& w, std::string_view text);
// After the last record and the warnings: the fingerprint of what the records were read from
// (TTableData).
void WriteFingerprint(TWireWriter& w, std::uint64_t fingerprint);
// Reads what the writer sent: columns, records, the retyped columns, the warnings and the
// fingerprint if they were sent, then the end mark. A failure mark (before the columns, or
// between records) raises EProviderError with the message the reading process sent. The records
// may take memoryLimit bytes (RecordLimit.h): reading stops before a record that would take
// more, with ERecordsTooLarge.
TTableData ReadTableStream(TWireReader& r, std::uint64_t memoryLimit = RecordMemoryLimit());

// The answer to a catalog request: the count of objects, then each one's kind and name.
void WriteCatalog(TWireWriter& w, const std::vector<TCatalogObject>& objects);
std::vector<TCatalogObject> ReadCatalog(TWireReader& r);

}  // namespace quorlin
