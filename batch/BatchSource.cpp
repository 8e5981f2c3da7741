#include "batch/BatchSource.h"

#include <filesystem>
#include <nlohmann/json.hpp>
#include <ostream>

#include "statistics/Statistics01.h"
#include "support/AsciiText.h"
#include "support/Messages.h"
#include "batch/CsvExport.h"
#include "batch/CsvReader.h"
#include "batch/JsonText.h"

namespace quorlin {

namespace {

bool IsAccessDatabase(const std::string& path)
{
    const std::string ext = LowerAscii(std::filesystem::path(path).extension().string());
    return ext == ".mdb" || ext == ".accdb";
}

}  // namespace

TSource::TSource(const std::string& path, const std::string& table, std::ostream& err)
{
    if (std::filesystem::is_directory(path)) throw EUsage(Format(Tr("Cannot read '%1$s': it is a folder"), path));
    if (!IsAccessDatabase(path)) {
        if (!table.empty()) throw EUsage(Tr("--table applies to Access databases (.mdb, .accdb) only"));
        try {
            FCsv = std::make_unique<TMemoryDataSet>(ReadCsvFile(path));
        } catch (const ECsvError& e) {
            throw EUsage(e.what());
        }
        FNames = FCsv->FieldNames();
        return;
    }
    if (table.empty()) throw EUsage(Tr("An Access database needs --table NAME"));
    FData = std::make_unique<TCustomerData>();
    FData->OpenTable(path, table);
    if (!FData->DataQuery.Active())
        throw EUsage(FData->LastError().empty() ? Format(Tr("Cannot open table '%1$s'"), table) : FData->LastError());
    FNames = FData->DataQuery.FieldNames();
    for (const std::string& warning : FData->DataQuery.Warnings()) err << "quorlin-batch: " << Format(Tr("warning: %1$s"), warning) << '\n';
}

void TSource::WriteCsvTo(std::ostream& out) const
{
    if (FCsv)
        WriteCsv(*FCsv, out);
    else
        WriteCsv(FData->DataQuery.Records(), out);
}

// Field names as the table spells them, checked before anything is computed.
std::string ResolveField(const TSource& source, const std::string& name)
{
    for (const auto& field : source.FieldNames())
        if (SameFieldName(field, name)) return field;
    throw EUsage(Format(Tr("Unknown field '%1$s'"), EchoedText(name)));
}

std::vector<std::string> ResolveFactors(const TSource& table, const std::vector<std::string>& x, const std::string& y)
{
    std::vector<std::string> factors;
    if (x.empty()) {
        for (const auto& name : table.FieldNames())
            if (name != y) factors.push_back(name);
    } else {
        for (const auto& given : x) {
            const std::string name = ResolveField(table, given);
            // As in the desktop program, the forecast element is never one of its own factors.
            if (name == y) continue;
            for (const auto& earlier : factors)
                if (earlier == name) throw EUsage(Format(Tr("Factor '%1$s' is given twice"), name));
            factors.push_back(name);
        }
    }
    if (factors.empty()) throw EUsage(Tr("No factor to compute with: give --x FIELD, or a source with more fields"));
    return factors;
}

TPreparedEquation PrepareEquation(const TEquationOptions& options, std::ostream& err)
{
    TPreparedEquation p;
    p.Source = std::make_unique<TSource>(options.Source, options.Table, err);
    p.Y = ResolveField(*p.Source, options.Y);
    p.Factors = ResolveFactors(*p.Source, options.X, p.Y);
    if (!TryTextToFloat(options.Fa, p.Fa)) throw EUsage(InvalidFloatMessage(options.Fa));
    p.Method = options.Method == "full" ? MethodFull : MethodStepwise;
    return p;
}

int RunEquationCommand(bool json, std::ostream& out, std::ostream& err, const std::function<int()>& command)
{
    const auto fail = [&](int status, const std::string& message) {
        err << "quorlin-batch: " << message << '\n';
        if (json) out << DumpJson(nlohmann::json{{"error", message}}) << '\n';
        return status;
    };
    try {
        return command();
    } catch (const EUsage& e) {
        return fail(ExitUsage, e.what());
    } catch (const ETooManyFactors& e) {
        return fail(ExitUsage, e.what());
    } catch (const std::exception& e) {
        return fail(ExitFailed, e.what());
    }
}

}  // namespace quorlin
