#include "data/views/AccessSql.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <map>

#include "data/format/Format.h"
#include "support/AsciiText.h"
#include "values/CellValues.h"
#include "support/Calendar.h"
#include "support/Messages.h"

namespace quorlin {

namespace {

bool IsIdentStart(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_' || (c & 0x80); }
bool IsIdentChar(char c) { return IsIdentStart(c) || std::isdigit(static_cast<unsigned char>(c)); }

std::string SqlString(std::string_view text)
{
    std::string out = "'";
    for (char c : text) {
        if (c == '\'') out.push_back('\'');
        out.push_back(c);
    }
    return out + "'";
}

// Access wildcards to SQL ones: * any run, ? one character.
std::string LikePattern(std::string_view pattern)
{
    std::string out;
    for (char c : pattern) {
        if (c == '*')
            out.push_back('%');
        else if (c == '?')
            out.push_back('_');
        else if (c == '#' || c == '[')
            throw EQueryTranslation(Tr("Like patterns with # or [...] are not supported"));
        else
            out.push_back(c);
    }
    return out;
}

std::string Number(double v)
{
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%.17g", v);
    return buffer;
}

std::string QuoteName(std::string_view name)
{
    if (name.find(']') != std::string_view::npos) throw EQueryTranslation(Tr("A name holds ']'"));
    return "[" + std::string(name) + "]";
}

}  // namespace

double AccessDateLiteral(std::string_view text)
{
    auto fail = [&] { throw EQueryTranslation(Format(Tr("Cannot read the date literal #%1$s#"), text)); };
    std::string s(text);
    int a = 0, b = 0, c = 0, h = 0, mi = 0, se = 0, used = 0;
    int y;
    unsigned m, d;
    if (std::sscanf(s.c_str(), "%d-%d-%d%n", &a, &b, &c, &used) == 3) {
        y = a, m = static_cast<unsigned>(b), d = static_cast<unsigned>(c);
    } else if (std::sscanf(s.c_str(), "%d/%d/%d%n", &a, &b, &c, &used) == 3) {
        y = c < 100 ? (c < 30 ? 2000 + c : 1900 + c) : c, m = static_cast<unsigned>(a), d = static_cast<unsigned>(b);
    } else {
        fail();
    }
    if (y < FirstYear || y > LastYear || m < 1 || m > 12 || d < 1 || d > 31) fail();
    std::string rest = s.substr(static_cast<std::size_t>(used));
    int secondOfDay = 0;
    if (rest.find_first_not_of(' ') != std::string::npos) {
        char ampm[3] = {};
        const int n = std::sscanf(rest.c_str(), " %d:%d:%d %2s", &h, &mi, &se, ampm);
        if (n < 2) {
            if (std::sscanf(rest.c_str(), " %d:%d %2s", &h, &mi, ampm) < 2) fail();
        }
        const std::string suffix = LowerAscii(ampm);
        if (suffix == "pm" && h < 12) h += 12;
        if (suffix == "am" && h == 12) h = 0;
        secondOfDay = h * 3600 + mi * 60 + se;
    }
    return DayNumberFromDateTime({y, m, d}, secondOfDay);
}

std::string TranslateExpression(std::string_view e)
{
    std::string out;
    bool likePending = false;
    std::size_t i = 0;
    while (i < e.size()) {
        const char c = e[i];
        if (std::isspace(static_cast<unsigned char>(c))) {
            out.push_back(c);
            ++i;
            continue;
        }
        if (c == '"' || c == '\'') {
            std::string text;
            ++i;
            for (;;) {
                if (i >= e.size()) throw EQueryTranslation(Tr("A text literal is not closed"));
                if (e[i] == c) {
                    if (i + 1 < e.size() && e[i + 1] == c) {
                        text.push_back(c);
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                text.push_back(e[i++]);
            }
            out += SqlString(likePending ? LikePattern(text) : text);
            likePending = false;
            continue;
        }
        likePending = false;
        if (c == '#') {
            const std::size_t end = e.find('#', i + 1);
            if (end == std::string_view::npos) throw EQueryTranslation(Tr("A date literal is not closed"));
            out += Number(AccessDateLiteral(e.substr(i + 1, end - i - 1)));
            i = end + 1;
            continue;
        }
        if (c == '[') {
            const std::size_t end = e.find(']', i + 1);
            if (end == std::string_view::npos) throw EQueryTranslation(Tr("A bracketed name is not closed"));
            out.append(e.substr(i, end - i + 1));
            i = end + 1;
            continue;
        }
        if (std::isdigit(static_cast<unsigned char>(c)) ||
            (c == '.' && i + 1 < e.size() && std::isdigit(static_cast<unsigned char>(e[i + 1])))) {
            const std::size_t start = i;
            while (i < e.size() && (std::isalnum(static_cast<unsigned char>(e[i])) || e[i] == '.' ||
                                    ((e[i] == '+' || e[i] == '-') && (e[i - 1] == 'e' || e[i - 1] == 'E'))))
                ++i;
            out.append(e.substr(start, i - start));
            continue;
        }
        if (IsIdentStart(c)) {
            const std::size_t start = i;
            while (i < e.size() && IsIdentChar(e[i])) ++i;
            const std::string word(e.substr(start, i - start));
            const std::string keyword = LowerAscii(word);
            if (keyword == "true")
                out += "(-1)";
            else if (keyword == "false")
                out += "0";
            else if (keyword == "mod")
                out += "%";
            else {
                if (keyword == "like") likePending = true;
                if (keyword == "distinctrow") throw EQueryTranslation(Tr("DISTINCTROW is not supported"));
                out += word;
            }
            continue;
        }
        if (c == '&') {
            out += "||";
            ++i;
            continue;
        }
        if (c == '\\' || c == '^' || c == '!') throw EQueryTranslation(Format(Tr("The operator %1$s is not supported"), std::string(1, c)));
        out.push_back(c);
        ++i;
    }
    return out;
}

namespace Q = jet::query_table;

std::vector<std::string> TQueryDefinition::InputNames() const
{
    std::vector<std::string> names;
    for (const auto& p : Parts)
        if (p.Attribute == Q::Input && std::find(names.begin(), names.end(), p.Name1) == names.end()) names.push_back(p.Name1);
    return names;
}

bool TQueryDefinition::IsSelectWithoutParameters() const
{
    bool select = false;
    for (const auto& p : Parts) {
        if (p.Attribute == Q::Kind) select = p.Flag == Q::SelectKind;
        if (p.Attribute == Q::Parameter) return false;
    }
    return select;
}

std::string TranslateQuery(const TQueryDefinition& q)
{
    std::string predicate, limit;
    std::vector<std::string> columns, where, groupBy, having, orderBy;
    struct Input {
        std::string Table, Alias;
        std::string Ref() const { return Alias.empty() ? Table : Alias; }
    };
    std::vector<Input> inputs;
    struct Join {
        std::string Left, Right;
        int Type;
        std::vector<std::string> Conditions;
    };
    std::vector<Join> joins;

    for (const auto& p : q.Parts) {
        switch (p.Attribute) {
        case Q::Options:
            if (p.Flag & Q::TOptionFlag::Percent) throw EQueryTranslation(Tr("TOP ... PERCENT is not supported"));
            if (p.Flag & Q::TOptionFlag::Top) {
                int n = 0;
                const auto [ptr, ec] = std::from_chars(p.Name1.data(), p.Name1.data() + p.Name1.size(), n);
                if (ec != std::errc{} || n < 0) throw EQueryTranslation(Tr("TOP needs a count"));
                limit = " LIMIT " + std::to_string(n);
            }
            if (p.Flag & Q::TOptionFlag::DistinctRow) throw EQueryTranslation(Tr("DISTINCTROW is not supported"));
            if (p.Flag & Q::TOptionFlag::Distinct) predicate = " DISTINCT";
            break;
        case Q::Input: inputs.push_back({p.Name1, p.Name2}); break;
        case Q::Column:
            columns.push_back(TranslateExpression(p.Expression) + (p.Name1.empty() ? "" : " AS " + QuoteName(p.Name1)));
            break;
        case Q::Join: {
            if (p.Flag < Q::TJoinKind::Inner || p.Flag > Q::TJoinKind::Right) throw EQueryTranslation(Tr("Unknown kind of join"));
            auto same = std::find_if(joins.begin(), joins.end(), [&](const Join& j) {
                return j.Left == p.Name1 && j.Right == p.Name2 && j.Type == p.Flag;
            });
            if (same == joins.end()) {
                joins.push_back({p.Name1, p.Name2, p.Flag, {}});
                same = joins.end() - 1;
            }
            same->Conditions.push_back("(" + TranslateExpression(p.Expression) + ")");
            break;
        }
        case Q::Where: where.push_back(TranslateExpression(p.Expression)); break;
        case Q::GroupBy: groupBy.push_back(TranslateExpression(p.Expression)); break;
        case Q::Having: having.push_back(TranslateExpression(p.Expression)); break;
        case Q::OrderBy: orderBy.push_back(TranslateExpression(p.Expression) + (p.Name1 == Q::Descending ? " DESC" : "")); break;
        default: break;
        }
    }
    if (inputs.empty()) throw EQueryTranslation(Tr("The query reads no table"));

    auto inputText = [&](const std::string& ref) {
        for (const auto& in : inputs)
            if (in.Ref() == ref)
                return QuoteName(in.Table) + (in.Alias.empty() ? "" : " AS " + QuoteName(in.Alias));
        throw EQueryTranslation(Format(Tr("A join names '%1$s', which is no input of the query"), ref));
    };
    // Joins chain from the first one's left side; inputs in no join are crossed in.
    std::string from;
    std::vector<std::string> placed;
    auto isPlaced = [&](const std::string& ref) { return std::find(placed.begin(), placed.end(), ref) != placed.end(); };
    std::vector<Join> pending = joins;
    while (!pending.empty()) {
        bool progress = false;
        for (auto it = pending.begin(); it != pending.end();) {
            static const char* const kinds[] = {"", " INNER JOIN ", " LEFT JOIN ", " RIGHT JOIN "};
            std::string joined, kind = kinds[it->Type];
            if (placed.empty()) {
                from = inputText(it->Left);
                placed.push_back(it->Left);
            }
            if (isPlaced(it->Left) && !isPlaced(it->Right)) {
                joined = it->Right;
            } else if (isPlaced(it->Right) && !isPlaced(it->Left)) {
                joined = it->Left;
                if (it->Type == Q::TJoinKind::Left) kind = " RIGHT JOIN ";
                else if (it->Type == Q::TJoinKind::Right) kind = " LEFT JOIN ";
            } else if (isPlaced(it->Left) && isPlaced(it->Right)) {
                throw EQueryTranslation(Tr("Joins that close a circle are not supported"));
            } else {
                ++it;
                continue;
            }
            std::string on;
            for (const auto& cond : it->Conditions) on += (on.empty() ? "" : " AND ") + cond;
            from += kind + inputText(joined) + " ON " + on;
            placed.push_back(joined);
            it = pending.erase(it);
            progress = true;
        }
        if (!progress) throw EQueryTranslation(Tr("Joins that are not connected are not supported"));
    }
    for (const auto& in : inputs) {
        if (isPlaced(in.Ref())) continue;
        from += (from.empty() ? "" : ", ") + inputText(in.Ref());
        placed.push_back(in.Ref());
    }

    auto list = [](const std::vector<std::string>& items, const char* separator) {
        std::string s;
        for (const auto& item : items) s += (s.empty() ? "" : separator) + item;
        return s;
    };
    std::string sql = "SELECT" + predicate + " " + (columns.empty() ? "*" : list(columns, ", ")) + " FROM " + from;
    if (!where.empty()) sql += " WHERE " + list(where, " AND ");
    if (!groupBy.empty()) sql += " GROUP BY " + list(groupBy, ", ");
    if (!having.empty()) sql += " HAVING " + list(having, " AND ");
    if (!orderBy.empty()) sql += " ORDER BY " + list(orderBy, ", ");
    return sql + limit;
}

std::string DeclaredType(std::uint8_t accessType)
{
    char code[8];
    std::snprintf(code, sizeof code, "Q%02X", accessType);
    using T = TColumnType;
    switch (static_cast<T>(accessType)) {
    case T::Boolean: case T::Byte: case T::Integer: case T::Long: return std::string("INTEGER ") + code;
    case T::Currency: case T::Single: case T::Double: case T::DateTime: case T::Decimal: return std::string("REAL ") + code;
    default: return std::string("TEXT ") + code;
    }
}

std::uint8_t AccessTypeOfDeclared(std::string_view declared)
{
    const std::size_t q = declared.rfind(" Q");
    if (q == std::string_view::npos || q + 4 != declared.size()) return 0;
    unsigned value = 0;
    const auto [ptr, ec] = std::from_chars(declared.data() + q + 2, declared.data() + declared.size(), value, 16);
    return ec == std::errc{} ? static_cast<std::uint8_t>(value) : 0;
}

}  // namespace quorlin
