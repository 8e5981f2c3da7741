#include "CsvReader.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include "../support/Messages.h"

namespace quorlin {

namespace {

struct TRawCell {
    std::string Text;
    bool Quoted = false;
};

class TCsvParser {
public:
    TCsvParser(std::string_view text, const std::string& source) : FText(text), FSource(source)
    {
        if (FText.substr(0, 3) == "\xEF\xBB\xBF") FText.remove_prefix(3);
    }

    // The next record's cells; false at the end of the text.
    bool NextRecord(std::vector<TRawCell>& cells)
    {
        cells.clear();
        if (FPos >= FText.size()) return false;
        FRecordLine = FLine;
        for (;;) {
            TRawCell cell;
            const bool more = ReadCell(cell);
            cells.push_back(std::move(cell));
            if (!more) return true;
        }
    }

    std::int64_t RecordLine() const noexcept { return FRecordLine; }

    [[noreturn]] void Fail(const std::string& what, std::int64_t line) const
    {
        throw ECsvError(FSource + ":" + std::to_string(line) + ": " + what);
    }

private:
    // Reads one cell; true when another cell of the same record follows.
    bool ReadCell(TRawCell& cell)
    {
        if (FPos < FText.size() && FText[FPos] == '"') {
            cell.Quoted = true;
            const std::int64_t openedOn = FLine;
            ++FPos;
            for (;;) {
                if (FPos >= FText.size()) Fail(Tr("a quoted cell is not closed"), openedOn);
                const char c = FText[FPos++];
                if (c == '"') {
                    if (FPos < FText.size() && FText[FPos] == '"') {
                        cell.Text.push_back('"');
                        ++FPos;
                        continue;
                    }
                    break;
                }
                if (c == '\n') ++FLine;
                cell.Text.push_back(c);
            }
            return EndOfCell(Tr("text after the closing quote of a cell"));
        }
        while (FPos < FText.size()) {
            const char c = FText[FPos];
            if (c == ',' || c == '\n' || c == '\r') break;
            if (c == '"') Fail(Tr("a quote inside an unquoted cell"), FLine);
            cell.Text.push_back(c);
            ++FPos;
        }
        return EndOfCell("");
    }

    bool EndOfCell(const char* junk)
    {
        if (FPos >= FText.size()) return false;
        const char c = FText[FPos];
        if (c == ',') {
            ++FPos;
            return true;
        }
        if (c == '\r' && FPos + 1 < FText.size() && FText[FPos + 1] == '\n') ++FPos;
        if (c == '\n' || c == '\r') {
            ++FPos;
            ++FLine;
            return false;
        }
        Fail(junk, FLine);
    }

    std::string_view FText;
    const std::string& FSource;
    std::size_t FPos = 0;
    std::int64_t FLine = 1;
    std::int64_t FRecordLine = 1;
};

bool IsBlankLine(const std::vector<TRawCell>& cells)
{
    return cells.size() == 1 && !cells[0].Quoted && cells[0].Text.empty();
}

}  // namespace

TMemoryDataSet ParseCsv(std::string_view text, const std::string& sourceName)
{
    TCsvParser parser(text, sourceName);
    std::vector<TRawCell> raw;
    while (parser.NextRecord(raw) && IsBlankLine(raw)) {
    }
    if (raw.empty()) throw ECsvError(Format(Tr("%1$s: no header line naming the fields"), sourceName));

    TMemoryDataSet table;
    for (auto& cell : raw) {
        if (cell.Text.empty()) parser.Fail(Tr("a field has no name"), parser.RecordLine());
        if (table.FindField(cell.Text) >= 0)
            parser.Fail(Format(Tr("the field name '%1$s' appears twice"), EchoedText(cell.Text)), parser.RecordLine());
        table.AddField(std::move(cell.Text));
    }

    std::vector<TCell> cells;
    while (parser.NextRecord(raw)) {
        if (IsBlankLine(raw)) continue;
        if (raw.size() != static_cast<std::size_t>(table.FieldCount()))
            parser.Fail(Format(Tr("a record has %1$s cells, the header names %2$s fields"), raw.size(), table.FieldCount()),
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

TMemoryDataSet ReadCsvFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) throw ECsvError(Format(Tr("Cannot open '%1$s': %2$s"), path, std::strerror(errno)));
    std::ostringstream buffer;
    buffer << in.rdbuf();
    if (in.bad()) throw ECsvError(Format(Tr("Cannot read '%1$s': %2$s"), path, std::strerror(errno)));
    return ParseCsv(buffer.str(), path);
}

}  // namespace quorlin
