#pragma once
// Evaluating a saved select query: the tables it reads are loaded into an in-memory SQLite
// database, the query's definition is translated to SQL and run there. Runs in the reading
// process, like every read of a database file.

#include <string>

#include "data/reading/Wire.h"
#include "data/views/ViewSource.h"

struct sqlite3;

namespace quorlin {

// Gives a SQLite database the Access functions translated expressions call: Nz, Mid, Len, Int,
// Sqr, Year, Month, Day (IIf, Abs and the aggregates are SQLite's own).
void RegisterAccessFunctions(sqlite3* db);

// Writes the view's columns and records, in the view's order, then the end mark. A view that
// cannot be evaluated raises EProviderError naming the reason.
void StreamViewRecords(TViewSource& source, const std::string& viewName, TWireWriter& w, const TProgress& progress);

}  // namespace quorlin
