#pragma once
// What every subcommand of the batch command shares: its exit statuses, the error for bad
// usage or input, the records it works on (a CSV file or a table of an Access database) and
// the field names given on its command line, resolved against them.

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "data/provider/CustomerData.h"
#include "statistics/MemoryDataSet.h"
#include "support/Messages.h"

namespace quorlin {

constexpr int ExitFailed = 1;
constexpr int ExitUsage = 2;

// Bad usage or input: exit status 2.
class EUsage : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The records a command works on: a CSV file read into memory, or a table of an Access
// database opened through the data module exactly as the desktop program opens it. What the
// reading of a table warns of (TMdbQuery::Warnings) is told on err, one line each; the command
// goes on.
class TSource {
public:
    TSource(const std::string& path, const std::string& table, std::ostream& err);

    TDataSet& DataSet() { return FCsv ? static_cast<TDataSet&>(*FCsv) : FData->DataQuery; }
    TMdbQuery& Query()
    {
        if (!FData) throw EUsage(Tr("Records can be changed in Access databases only"));
        return FData->DataQuery;
    }
    const std::vector<std::string>& FieldNames() const noexcept { return FNames; }
    void WriteCsvTo(std::ostream& out) const;

private:
    std::unique_ptr<TMemoryDataSet> FCsv;
    std::unique_ptr<TCustomerData> FData;
    std::vector<std::string> FNames;
};

// What compute, skill and forecast are asked for: records, Y, candidate factors, method and Fa.
struct TEquationOptions {
    std::string Source;
    std::string Table;
    std::string Y;
    std::vector<std::string> X;
    std::string Method = "stepwise";
    std::string Fa = "4.00";
    bool Json = false;
};

// The source opened and the names and numbers of the command line checked against it.
struct TPreparedEquation {
    std::unique_ptr<TSource> Source;
    std::string Y;
    std::vector<std::string> Factors;
    double Fa = 0.0;
    std::int32_t Method = 0;
};
TPreparedEquation PrepareEquation(const TEquationOptions& options, std::ostream& err);

// Runs a command that works on an equation and returns its exit status. What stops it is told on
// err, and with json on out too (as {"error": …}): bad input and too many factors exit ExitUsage;
// anything else (floating-point faults, unreadable values, a file that cannot or may not be
// written) ExitFailed.
int RunEquationCommand(bool json, std::ostream& out, std::ostream& err, const std::function<int()>& command);

// Field names as the table spells them, checked before anything is computed.
std::string ResolveField(const TSource& source, const std::string& name);
// The factors --x names (every field but Y when none is named), as the table spells them.
std::vector<std::string> ResolveFactors(const TSource& table, const std::vector<std::string>& x, const std::string& y);

}  // namespace quorlin
