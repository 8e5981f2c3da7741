#include "BatchCommand.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "../numeric/FloatError.h"
#include "../statistics/Statistics01.h"
#include "CsvReader.h"

namespace quorlin {

namespace {

constexpr int ExitFailed = 1;
constexpr int ExitUsage = 2;

// Bad usage or input: exit status 2.
class EUsage : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct TComputeOptions {
    std::string Source;
    std::string Y;
    std::vector<std::string> X;
    std::string Method = "stepwise";
    std::string Fa = "4.00";
    std::string Report;
    bool Json = false;
};

// Text from the source is written as it came; bytes that are not UTF-8 must not make the JSON
// writer fail, so they are replaced.
std::string Dump(const nlohmann::json& j) { return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace); }

struct TRemoval {
    std::string Factor;
    double V;
    double F;
};

TMemoryDataSet OpenSource(const std::string& path)
{
    if (std::filesystem::is_directory(path)) throw EUsage("Cannot read '" + path + "': it is a folder");
    try {
        return ReadCsvFile(path);
    } catch (const ECsvError& e) {
        throw EUsage(e.what());
    }
}

// Field names as the table spells them, checked before anything is computed.
std::string ResolveField(const TMemoryDataSet& table, const std::string& name)
{
    const std::int32_t f = table.FindField(name);
    if (f < 0) throw EUsage("Unknown field '" + name + "'");
    return table.FieldName(f);
}

std::vector<std::string> ResolveFactors(const TMemoryDataSet& table, const TComputeOptions& options,
                                        const std::string& y)
{
    std::vector<std::string> factors;
    if (options.X.empty()) {
        for (const auto& name : table.FieldNames())
            if (name != y) factors.push_back(name);
    } else {
        for (const auto& given : options.X) {
            const std::string name = ResolveField(table, given);
            // As in the desktop program, the forecast element is never one of its own factors.
            if (name == y) continue;
            for (const auto& earlier : factors)
                if (earlier == name) throw EUsage("Factor '" + name + "' is given twice");
            factors.push_back(name);
        }
    }
    if (factors.empty()) throw EUsage("No factor to compute with: give --x FIELD, or a source with more fields");
    return factors;
}

nlohmann::json MatrixJson(const TMatrix& matrix)
{
    auto rows = nlohmann::json::array();
    for (std::int32_t i = 0; i < matrix.Rows(); ++i) {
        auto row = nlohmann::json::array();
        for (std::int32_t j = 0; j < matrix.Cols(); ++j) row.push_back(*matrix.Element(i, j));
        rows.push_back(std::move(row));
    }
    return rows;
}

nlohmann::json ColumnJson(const TMatrix& column)
{
    auto values = nlohmann::json::array();
    for (std::int32_t i = 0; i < column.Rows(); ++i) values.push_back(*column.Element(i, 0));
    return values;
}

nlohmann::json ResultJson(const TStatistics& stats, const TComputeOptions& options, double fa,
                          const std::vector<TRemoval>& removals)
{
    const TEquation& equation = stats.Equation();
    auto beta = nlohmann::json::array();
    for (std::int32_t i = 0; i < stats.FactorCount(); ++i) beta.push_back(equation.Beta(i));
    auto removed = nlohmann::json::array();
    for (const auto& r : removals) removed.push_back({{"factor", r.Factor}, {"v", r.V}, {"f", r.F}});
    return {
        {"equation", stats.EquationText()},
        {"method", options.Method},
        {"fa", fa},
        {"n", stats.SampleSize()},
        {"y", stats.YFieldName()},
        {"factors", stats.FactorNames()},
        {"constant", stats.Constant()},
        {"coefficients", stats.Coefficients()},
        {"std_coefficients", std::move(beta)},
        {"residual_share", equation.ResidualShare()},
        {"regression_share", equation.RegressionShare()},
        {"multiple_r", equation.MultipleR()},
        {"q", stats.ResidualVariance()},
        {"u", stats.RegressionVariance()},
        {"removals", std::move(removed)},
        {"means", stats.Means()},
        {"y_mean", stats.YMean()},
        {"y_variance", stats.YVariance()},
        {"correlation", MatrixJson(stats.Correlation())},
        {"correlation_y", ColumnJson(stats.CorrelationXY())},
        {"covariance", MatrixJson(stats.Covariance())},
        {"covariance_y", ColumnJson(stats.CovarianceXY())},
    };
}

int Compute(const TComputeOptions& options, std::ostream& out, std::ostream& err)
{
    auto fail = [&](int status, const std::string& message) {
        err << "quorlin-batch: " << message << '\n';
        if (options.Json) out << Dump(nlohmann::json{{"error", message}}) << '\n';
        return status;
    };

    try {
        TMemoryDataSet table = OpenSource(options.Source);
        const std::string y = ResolveField(table, options.Y);
        const std::vector<std::string> factors = ResolveFactors(table, options, y);
        double fa = 0.0;
        if (!TryTextToFloat(options.Fa, fa)) throw EUsage(InvalidFloatMessage(options.Fa));
        const std::int32_t method = options.Method == "full" ? MethodFull : MethodStepwise;

        std::vector<TRemoval> removals;
        auto onRemoval = [&](std::int32_t factor, double v, double f) {
            const std::string& name = factors[static_cast<std::size_t>(factor)];
            removals.push_back({name, v, f});
            err << "removed factor " << name << ": V=" << FormatGeneral(v) << " F=" << FormatGeneral(f) << '\n';
        };

        TStatistics stats(table, factors, y, fa, method, onRemoval);
        stats.MakeEquationText();
        if (!options.Report.empty()) stats.SaveReport(options.Report);

        if (options.Json)
            out << Dump(ResultJson(stats, options, fa, removals)) << '\n';
        else
            out << stats.EquationText() << '\n';
        return 0;
    } catch (const EUsage& e) {
        return fail(ExitUsage, e.what());
    } catch (const std::exception& e) {
        // Floating-point faults, unreadable values, a report that cannot be written.
        return fail(ExitFailed, e.what());
    }
}

int ListFields(const std::string& source, std::ostream& out, std::ostream& err)
{
    try {
        const TMemoryDataSet table = OpenSource(source);
        for (const auto& name : table.FieldNames()) out << name << '\n';
        return 0;
    } catch (const EUsage& e) {
        err << "quorlin-batch: " << e.what() << '\n';
        return ExitUsage;
    }
}

}  // namespace

int RunBatch(int argc, const char* const* argv, std::ostream& out, std::ostream& err)
{
    CLI::App app{"Builds a linear forecast equation for a forecast element Y from candidate factors, "
                 "by stepwise regression under an F threshold or by full multiple regression.",
                 "quorlin-batch"};
    app.require_subcommand(1);
    app.footer(
        "SOURCE is a CSV file: UTF-8, comma-separated, RFC 4180 quoting, the first line naming the fields.\n"
        "An empty cell reads as 0; any other cell must be a decimal number with '.' as the decimal point.\n"
        "\n"
        "Exit status: 0 done; 1 the computation failed (floating-point fault, a value that is no number,\n"
        "a report that cannot be written); 2 bad usage or input (missing file, unknown field, malformed CSV).");

    TComputeOptions compute;
    auto* computeCmd = app.add_subcommand("compute", "Compute the equation of Y and print it on stdout");
    computeCmd->add_option("SOURCE", compute.Source, "CSV file holding the records")->required();
    computeCmd->add_option("--y", compute.Y, "The forecast element Y (a field name)")->required();
    computeCmd->add_option("--x", compute.X,
                           "A factor (a field name); repeat for several, in order. "
                           "Default: every field but Y, in column order");
    computeCmd
        ->add_option("--method", compute.Method,
                     "stepwise: factors enter and leave by F tests against Fa (default); "
                     "full: every factor is taken in")
        ->check(CLI::IsMember({"stepwise", "full"}));
    computeCmd->add_option("--fa", compute.Fa, "The F threshold of the stepwise method (default 4.00)");
    computeCmd->add_option("--report", compute.Report,
                           "Write the report (equation, analysis of variance, correlation and covariance "
                           "matrices) to FILE in code page 936 with CR LF line ends, replacing it whole");
    computeCmd->add_flag("--json", compute.Json,
                         "Print one JSON object with the equation and every statistic instead of the "
                         "equation text; on failure {\"error\": message}");
    computeCmd->footer("Each factor the stepwise method takes out again is named on stderr with its V and F.");

    std::string fieldsSource;
    auto* fieldsCmd = app.add_subcommand("fields", "Print the field names of SOURCE, one a line, in column order");
    fieldsCmd->add_option("SOURCE", fieldsSource, "CSV file")->required();

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e, out, err);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e, out, err);
    } catch (const CLI::ParseError& e) {
        app.exit(e, out, err);
        return ExitUsage;
    }

    if (computeCmd->parsed()) return Compute(compute, out, err);
    return ListFields(fieldsSource, out, err);
}

}  // namespace quorlin
