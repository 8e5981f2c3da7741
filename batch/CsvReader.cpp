#include "batch/CsvReader.h"

#include <cerrno>
#include <cstring>
#include <cstdint>
#include <fstream>
#include <istream>
#include <vector>

#include "support/Messages.h"

namespace quorlin {

namespace {

struct TRawCell {
    std::string Text;
    bool Quoted = false;
};

// The text's bytes one at a time, taken from a file a chunk at a time: a file is never held
// whole.
class TCsvInput {
public:
    explicit TCsvInput(std::string_view text) : FChunk(text) {}
    TCsvInput(std::istream& in, const std::string& path) : FStream(&in), FPath(&path), FBuffer(std::size_t{1} << 20) {}

    // The next byte, or -1 at the end of the text.
    int Peek()
    {
        if (FPos == FChunk.size() && !Refill()) return -1;
        return static_cast<unsigned char>(FChunk[FPos]);
    }
    void Skip() noexcept
    {
        ++FPos;
        ++FTaken;
    }
    std::uint64_t Taken() const noexcept { return FTaken; }
    void SkipByteOrderMark()
    {
        if (Peek() >= 0 && FChunk.substr(FPos).starts_with("\xEF\xBB\xBF")) FPos += 3;
    }

private:
    bool Refill()
    {
        if (!FStream) return false;
        FStream->read(FBuffer.data(), static_cast<std::streamsize>(FBuffer.size()));
        if (FStream->bad()) throw ECsvError(Format(Tr("Cannot read '%1$s': %2$s"), *FPath, std::strerror(errno)));
        FChunk = std::string_view(FBuffer.data(), static_cast<std::size_t>(FStream->gcount()));
        FPos = 0;
        return !FChunk.empty();
    }

    std::istream* FStream = nullptr;
    const std::string* FPath = nullptr;
    std::vector<char> FBuffer;
    std::string_view FChunk;
    std::size_t FPos = 0;
    std::uint64_t FTaken = 0;
};

std::string SizeText(std::size_t bytes)
{
    constexpr std::size_t MiB = std::size_t{1} << 20;
    return bytes % MiB == 0 ? std::to_string(bytes / MiB) + " MiB" : std::to_string(bytes) + " bytes";
}

class TCsvParser {
public:
    TCsvParser(TCsvInput& input, const std::string& source, const TCsvLimits& limits)
        : FInput(input), FSource(source), FLimits(limits)
    {
    }

    // Reads the next record: its first keep cells into cells, the others only counted. Returns
    // how many cells it has, 0 at the end of the text.
    std::size_t NextRecord(std::vector<TRawCell>& cells, std::size_t keep)
    {
        cells.clear();
        if (FInput.Peek() < 0) return 0;
        FRecordLine = FLine;
        FRecordStart = FInput.Taken();
        for (std::size_t count = 1;; ++count) {
            FSpare = TRawCell();
            TRawCell& cell = count <= keep ? cells.emplace_back() : FSpare;
            if (!ReadCell(cell)) return count;
        }
    }

    std::int64_t RecordLine() const noexcept { return FRecordLine; }

    [[noreturn]] void Fail(const std::string& what, std::int64_t line) const
    {
        throw ECsvError(FSource + ":" + std::to_string(line) + ": " + what);
    }

private:
    // The next byte of the record, which may grow only so long.
    char Take()
    {
        const auto c = static_cast<char>(FInput.Peek());
        FInput.Skip();
        if (FInput.Taken() - FRecordStart > FLimits.LineBytes)
            Fail(Format(Tr("the line is longer than %1$s, the most a line of a CSV file may hold"),
                        SizeText(FLimits.LineBytes)),
                 FRecordLine);
        return c;
    }

    // Reads one cell; true when another cell of the same record follows.
    bool ReadCell(TRawCell& cell)
    {
        if (FInput.Peek() == '"') {
            cell.Quoted = true;
            const std::int64_t openedOn = FLine;
            Take();
            for (;;) {
                if (FInput.Peek() < 0) Fail(Tr("a quoted cell is not closed"), openedOn);
                const char c = Take();
                if (c == '"') {
                    if (FInput.Peek() != '"') break;
                    Take();
                }
                if (c == '\n') ++FLine;
                cell.Text.push_back(c);
            }
            return EndOfCell(Tr("text after the closing quote of a cell"));
        }
        for (int c = FInput.Peek(); c >= 0 && c != ',' && c != '\n' && c != '\r'; c = FInput.Peek()) {
            if (c == '"') Fail(Tr("a quote inside an unquoted cell"), FLine);
            cell.Text.push_back(Take());
        }
        return EndOfCell("");
    }

    bool EndOfCell(const char* junk)
    {
        const int c = FInput.Peek();
        if (c < 0) return false;
        if (c == ',') {
            Take();
            return true;
        }
        if (c == '\n' || c == '\r') {
            FInput.Skip();
            if (c == '\r' && FInput.Peek() == '\n') FInput.Skip();
            ++FLine;
            return false;
        }
        Fail(junk, FLine);
    }

    TCsvInput& FInput;
    const std::string& FSource;
    const TCsvLimits& FLimits;
    TRawCell FSpare;  // a cell beyond those kept, read only to be counted
    std::int64_t FLine = 1;
    std::int64_t FRecordLine = 1;
    std::uint64_t FRecordStart = 0;
};

bool IsBlankLine(const std::vector<TRawCell>& cells, std::size_t count)
{
    return count == 1 && !cells[0].Quoted && cells[0].Text.empty();
}

TMemoryDataSet ParseInput(TCsvInput& input, const std::string& sourceName, const TCsvLimits& limits)
{
    input.SkipByteOrderMark();
    TCsvParser parser(input, sourceName, limits);
    std::vector<TRawCell> raw;
    std::size_t count = 0;
    while ((count = parser.NextRecord(raw, limits.Fields)) > 0 && IsBlankLine(raw, count)) {
    }
    if (count == 0) throw ECsvError(Format(Tr("%1$s: no header line naming the fields"), sourceName));
    if (count > limits.Fields)
        parser.Fail(Format(Tr("the header names more than %1$s fields"), limits.Fields), parser.RecordLine());

    TMemoryDataSet table;
    for (auto& cell : raw) {
        if (cell.Text.empty()) parser.Fail(Tr("a field has no name"), parser.RecordLine());
        if (table.FindField(cell.Text) >= 0)
            parser.Fail(Format(Tr("the field name '%1$s' appears twice"), EchoedText(cell.Text)), parser.RecordLine());
        table.AddField(std::move(cell.Text));
    }

    const auto fields = static_cast<std::size_t>(table.FieldCount());
    std::vector<TCell> cells;
    while ((count = parser.NextRecord(raw, fields)) > 0) {
        if (IsBlankLine(raw, count)) continue;
        if (count != fields)
            parser.Fail(Format(Tr("a record has %1$s cells, the header names %2$s fields"), count, fields),
                        parser.RecordLine());
        cells.clear();
        for (auto& cell : raw) {
            if (!cell.Quoted && cell.Text.empty())
                cells.emplace_back(std::monostate{});
            else
                cells.emplace_back(std::move(cell.Text));
        }
        table.AppendRecord(cells);
    }
    return table;
}

}  // namespace

TMemoryDataSet ParseCsv(std::string_view text, const std::string& sourceName, const TCsvLimits& limits)
{
    TCsvInput input(text);
    return ParseInput(input, sourceName, limits);
}

TMemoryDataSet ReadCsvFile(const std::string& path, const TCsvLimits& limits)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) throw ECsvError(Format(Tr("Cannot open '%1$s': %2$s"), path, std::strerror(errno)));
    TCsvInput input(in, path);
    return ParseInput(input, path, limits);
}

}  // namespace quorlin
