#pragma once
// Saved select queries ("views") as Access keeps them: not as SQL text but as rows of its
// query table, one row per part (the tables, the output columns, the joins, WHERE, GROUP BY,
// HAVING, ORDER BY, DISTINCT, TOP). Here they become one SQL statement for SQLite, with the
// expressions translated where Access SQL differs.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace quorlin {

// A query that cannot be translated: a construct we do not support.
class EQueryTranslation : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// One row of the query table for one query, in the table's order.
struct TQueryPart {
    int Attribute = 0;
    std::string Name1;
    std::string Name2;
    std::string Expression;
    int Flag = 0;
};

struct TQueryDefinition {
    std::string Name;
    std::vector<TQueryPart> Parts;

    // The input tables (or queries) by their own names, each once, in order.
    std::vector<std::string> InputNames() const;
    bool IsSelectWithoutParameters() const;
};

// An Access expression as SQLite reads it: "text" and #date# literals, & concatenation,
// True/False, Mod, Like patterns with * and ?. Functions keep their names; the engine
// provides the Access ones (IIf, Nz, Mid, Len, Int, Sqr, Year, Month, Day, ...).
std::string TranslateExpression(std::string_view expression);

// The whole SELECT statement of a saved select query.
std::string TranslateQuery(const TQueryDefinition& query);

// A #date# literal's content (m/d/yyyy or yyyy-mm-dd, optionally with h:mm[:ss] [AM|PM]) as a
// day number: days since 1899-12-30, the time as the fraction.
double AccessDateLiteral(std::string_view text);

// The declared SQLite column type that stands for an Access column type code, and back.
std::string DeclaredType(std::uint8_t accessType);
// 0 when the declared type names no Access type (a computed column).
std::uint8_t AccessTypeOfDeclared(std::string_view declared);

}  // namespace quorlin
