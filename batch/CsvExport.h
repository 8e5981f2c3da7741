#pragma once
// Tables written as CSV text: UTF-8, comma-separated, quoted as RFC 4180 says, LF line ends,
// the field names on the first line and then the records in the order the table reads.
// Every value is written so that it reads back as exactly what was stored.

#include <optional>
#include <ostream>
#include <string>
#include <string_view>

#include "data/records/TableData.h"
#include "support/NumberText.h"
#include "statistics/MemoryDataSet.h"

namespace quorlin {

// The cell for one text: quoted when it holds a comma, a quote, CR or LF, or begins or ends
// with a space, each quote doubled. An empty text is quoted as well, since an empty cell is
// NULL.
std::string CsvField(std::string_view text);

// The text of one stored value by its column's type, std::nullopt for NULL: whole numbers as
// integers; Single and Double as their shortest texts; Currency and Decimal as the exact
// decimal text the reader keeps beside the number; dates as YYYY-MM-DD HH:MM:SS, to the
// nearest second; Yes/No as true or false; binary and OLE data as 0x and upper-case hex
// digits; text, memo and replication IDs as stored.
std::optional<std::string> ExportText(const TColumnData& column, std::size_t row);

void WriteCsv(const TTableData& table, std::ostream& out);
// Texts as they were read, numbers as their shortest texts.
void WriteCsv(const TMemoryDataSet& table, std::ostream& out);

}  // namespace quorlin
