#include "batch/ForecastCases.h"

#include <optional>
#include <variant>

#include "support/Messages.h"
#include "batch/CsvReader.h"

namespace quorlin {

namespace {

double NumberOf(const std::string& text, const std::string& where)
{
    double v = 0.0;
    if (!TryTextToFloat(text, v)) throw EUsage(where + ": " + InvalidFloatMessage(text));
    return v;
}

}  // namespace

std::vector<double> CaseFromAssignments(const TSource& source, const std::vector<std::string>& assignments,
                                        const std::vector<std::string>& factors)
{
    std::vector<std::optional<double>> values(factors.size());
    std::vector<std::string> given;
    for (const auto& assignment : assignments) {
        const auto eq = assignment.find('=');
        if (eq == std::string::npos) throw EUsage(Format(Tr("--with needs FACTOR=VALUE, not '%1$s'"), EchoedText(assignment)));
        const std::string name = ResolveField(source, assignment.substr(0, eq));
        for (const auto& earlier : given)
            if (earlier == name) throw EUsage(Format(Tr("Factor '%1$s' is given twice"), name));
        given.push_back(name);
        const double v = NumberOf(assignment.substr(eq + 1), "--with " + name);
        for (std::size_t i = 0; i < factors.size(); ++i)
            if (factors[i] == name) values[i] = v;
    }
    std::vector<double> result;
    for (std::size_t i = 0; i < factors.size(); ++i) {
        if (!values[i])
            throw EUsage(Format(Tr("No value for factor '%1$s' of the equation: give --with %1$s=VALUE"), factors[i]));
        result.push_back(*values[i]);
    }
    return result;
}

std::vector<std::vector<double>> CasesFromCsv(const std::string& path, const std::vector<std::string>& factors)
{
    TMemoryDataSet table;
    try {
        table = ReadCsvFile(path);
    } catch (const ECsvError& e) {
        throw EUsage(e.what());
    }
    std::vector<std::int32_t> columns;
    for (const auto& factor : factors) {
        const std::int32_t field = table.FindField(factor);
        if (field < 0) throw EUsage(Format(Tr("'%1$s' has no column for factor '%2$s' of the equation"), path, factor));
        columns.push_back(field);
    }
    if (table.RecordCount() == 0) throw EUsage(Format(Tr("'%1$s' holds no case to forecast"), path));
    std::vector<std::vector<double>> cases;
    for (std::int32_t k = 0; k < table.RecordCount(); ++k) {
        std::vector<double> values;
        for (std::size_t i = 0; i < factors.size(); ++i) {
            const std::string where = Format(Tr("Case %1$s of '%2$s', factor '%3$s'"), k + 1, path, factors[i]);
            const TCell cell = table.Cell(k, columns[i]);
            if (std::holds_alternative<std::monostate>(cell)) throw EUsage(Format(Tr("%1$s: no value"), where));
            if (const double* number = std::get_if<double>(&cell))
                values.push_back(*number);
            else
                values.push_back(NumberOf(std::get<std::string>(cell), where));
        }
        cases.push_back(std::move(values));
    }
    return cases;
}

}  // namespace quorlin
