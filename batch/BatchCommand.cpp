#include "batch/BatchCommand.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "numeric/FloatError.h"
#include "statistics/Statistics01.h"
#include "data/provider/CustomerData.h"
#include "data/editing/MdbWriter.h"
#include "support/AsciiText.h"
#include "support/Messages.h"
#include "batch/BatchSource.h"
#include "batch/JsonText.h"
#include "batch/SkillCommand.h"

namespace quorlin {

namespace {

struct TComputeOptions : TEquationOptions {
    std::string Report;
};

// Text from the source is written as it came; bytes that are not UTF-8 must not make the JSON
// writer fail, so they are replaced.

struct TRemoval {
    std::string Factor;
    double V;
    double F;
};

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

// The equation, with the report when one is asked for; removals are told on err as they happen.
int ComputeEquation(const TComputeOptions& options, std::ostream& out, std::ostream& err)
{
    const TPreparedEquation p = PrepareEquation(options, err);
    const std::vector<std::string>& factors = p.Factors;

    std::vector<TRemoval> removals;
    auto onRemoval = [&](std::int32_t factor, double v, double f) {
        const std::string& name = factors[static_cast<std::size_t>(factor)];
        removals.push_back({name, v, f});
        err << Format(Tr("removed factor %1$s: V=%2$s F=%3$s"), name, FormatGeneral(v), FormatGeneral(f)) << '\n';
    };

    TStatistics stats(p.Source->DataSet(), factors, p.Y, p.Fa, p.Method, onRemoval);
    stats.MakeEquationText();
    if (!options.Report.empty()) stats.SaveReport(options.Report, options.Source);

    if (options.Json)
        out << DumpJson(ResultJson(stats, options, p.Fa, removals)) << '\n';
    else
        out << stats.EquationText() << '\n';
    return 0;
}

int Compute(const TComputeOptions& options, std::ostream& out, std::ostream& err)
{
    return RunEquationCommand(options.Json, out, err, [&] { return ComputeEquation(options, out, err); });
}

int Report(std::ostream& err, const EUsage& e)
{
    err << "quorlin-batch: " << e.what() << '\n';
    return ExitUsage;
}

int ListFields(const std::string& source, const std::string& table, std::ostream& out, std::ostream& err)
{
    try {
        const TSource opened(source, table, err);
        for (const auto& name : opened.FieldNames()) out << name << '\n';
        return 0;
    } catch (const EUsage& e) {
        return Report(err, e);
    }
}

int Export(const std::string& source, const std::string& table, std::ostream& out, std::ostream& err)
{
    try {
        const TSource opened(source, table, err);
        opened.WriteCsvTo(out);
        out.flush();
        if (!out) throw std::runtime_error(Tr("Cannot write the CSV text to standard output"));
        return 0;
    } catch (const EUsage& e) {
        return Report(err, e);
    } catch (const std::exception& e) {
        err << "quorlin-batch: " << e.what() << '\n';
        return ExitFailed;
    }
}

int ListTables(const std::string& database, std::ostream& out, std::ostream& err)
{
    try {
        if (std::filesystem::is_directory(database)) throw EUsage(Format(Tr("Cannot read '%1$s': it is a folder"), database));
        TCustomerData data;
        if (data.ConnectDatabase(database) != 1) throw EUsage(data.LastError());
        std::vector<std::string> names;
        data.DataConn.GetTableNames(names, false);
        for (const auto& name : names) out << name << '\n';
        return 0;
    } catch (const EUsage& e) {
        return Report(err, e);
    }
}

// Each index of an Access table: its fields, its kind, the sort order of its text and what this
// program does with its keys.
int DescribeIndexes(const std::string& database, const std::string& table, std::ostream& out, std::ostream& err)
{
    try {
        if (!std::filesystem::is_regular_file(database)) throw EUsage(Format(Tr("Cannot read '%1$s': it is not a file"), database));
        for (const std::string& line : IndexDescriptions(database, table)) out << line << '\n';
        return 0;
    } catch (const EUsage& e) {
        return Report(err, e);
    } catch (const std::exception& e) {
        return Report(err, EUsage(e.what()));
    }
}

struct TEditOptions {
    std::string Database;
    std::string Table;
    std::int32_t Record = 0;
    std::vector<std::string> Sets;
};

// A scripted correction goes through the same query, editing and posting, as the grid does.
int EditRecords(TRecordChange::TKind kind, const TEditOptions& options, std::ostream& out, std::ostream& err)
{
    try {
        TSource source(options.Database, options.Table, err);
        TMdbQuery& query = source.Query();
        if (!query.CanModify()) throw std::runtime_error(query.ReadOnlyReason());
        std::vector<std::pair<std::int32_t, std::string>> values;
        for (const auto& set : options.Sets) {
            const auto eq = set.find('=');
            if (eq == std::string::npos) throw std::runtime_error(Format(Tr("--set needs FIELD=VALUE, not '%1$s'"), EchoedText(set)));
            const std::int32_t field = query.FieldByName(ResolveField(source, set.substr(0, eq)));
            for (const auto& earlier : values)
                if (earlier.first == field) throw std::runtime_error(Format(Tr("Field '%1$s' is set twice"), query.Field(field).Name));
            values.emplace_back(field, set.substr(eq + 1));
        }
        if (kind == TRecordChange::TKind::Insert) {
            query.Append();
        } else {
            if (options.Record < 1 || options.Record > query.RecordCount())
                throw std::runtime_error(Format(Tr("The table '%1$s' has no record %2$s (it has %3$s)"), options.Table,
                                                options.Record, query.RecordCount()));
            query.First();
            query.MoveBy(options.Record - 1);
        }
        if (kind == TRecordChange::TKind::Delete) {
            const std::vector<std::string> effects = query.DeleteEffects();
            query.Delete();
            for (const std::string& effect : effects) out << Format(Tr("Also: %1$s"), effect) << '\n';
            return 0;
        }
        if (kind == TRecordChange::TKind::Update) query.Edit();
        for (const auto& [field, text] : values) query.SetFieldText(field, text);
        query.Post();
        return 0;
    } catch (const std::exception& e) {
        err << "quorlin-batch: " << e.what() << '\n';
        return ExitFailed;
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
        "SOURCE is an Access database (.mdb or .accdb, any letter case), whose table --table names,\n"
        "or a CSV file: UTF-8, comma-separated, RFC 4180 quoting, the first line naming the fields.\n"
        "A CSV cell left empty reads as 0; any other cell must be a decimal number with '.' as the\n"
        "decimal point. In a database, an empty numeric field reads as 0, a date as its day number.\n"
        "\n"
        "Exit status: 0 done; 1 the computation failed (floating-point fault, a value that is no number,\n"
        "a report that cannot or may not be written); 2 bad usage or input (missing file, a file that is\n"
        "no database, unknown table or field, malformed CSV).");

    TComputeOptions compute;
    auto* computeCmd = app.add_subcommand("compute", "Compute the equation of Y and print it on stdout");
    computeCmd->add_option("SOURCE", compute.Source, "Access database or CSV file holding the records")->required();
    computeCmd->add_option("--table", compute.Table, "The table or view of an Access database");
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
                           "matrices) to FILE in code page 936 with CR LF line ends, replacing it whole. FILE may not be "
                           "an Access database, SOURCE, or anything but a regular file");
    computeCmd->add_flag("--json", compute.Json,
                         "Print one JSON object with the equation and every statistic instead of the "
                         "equation text; on failure {\"error\": message}");
    computeCmd->footer("Each factor the stepwise method takes out again is named on stderr with its V and F.");

    std::string fieldsSource, fieldsTable;
    auto* fieldsCmd = app.add_subcommand("fields", "Print the field names of SOURCE, one a line, in column order");
    fieldsCmd->add_option("SOURCE", fieldsSource, "Access database or CSV file")->required();
    fieldsCmd->add_option("--table", fieldsTable, "The table or view of an Access database");

    std::string exportSource, exportTable;
    auto* exportCmd = app.add_subcommand("export", "Write the records of SOURCE as CSV on stdout");
    exportCmd->add_option("SOURCE", exportSource, "Access database or CSV file")->required();
    exportCmd->add_option("--table", exportTable, "The table or view of an Access database");
    exportCmd->footer(
        "The CSV text is UTF-8 with LF line ends: the field names in column order on the first line,\n"
        "then the records in the order the table reads. Cells are quoted as RFC 4180 says (\"...\", an inner\n"
        "quote doubled) when they hold a comma, a quote, CR or LF, begin or end with a space, or are an\n"
        "empty text; NULL is an empty cell without quotes. Values:\n"
        "  Byte, Integer, Long Integer  as integers\n"
        "  Single, Double               the shortest text that reads back as the same Single or Double,\n"
        "                               '.' as the decimal point, no exponent below 1e16 (1950, 0.1)\n"
        "  Currency, Decimal            the exact decimal text (3.5000)\n"
        "  Date/Time                    YYYY-MM-DD HH:MM:SS to the nearest second (days since 1899-12-30,\n"
        "                               the time as the fraction, counted forward also before that day)\n"
        "  Yes/No                       true or false\n"
        "  Text, Memo                   as stored\n"
        "  Binary, OLE Object           0x and upper-case hex digits\n"
        "  Replication ID               {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}\n"
        "A CSV SOURCE is written as it was read: every cell text, an unquoted empty cell NULL.\n"
        "\n"
        "Exit status: 0 done; 1 the text could not be written; 2 bad usage or input (missing file, a file\n"
        "that is no database, unknown table, malformed CSV).");

    std::string tablesDatabase;
    auto* tablesCmd =
        app.add_subcommand("tables", "Print the tables, then the views, of an Access database, one a line");
    tablesCmd->add_option("DATABASE", tablesDatabase, "Access database (.mdb or .accdb)")->required();

    std::string describeDatabase, describeTable;
    auto* describeCmd = app.add_subcommand("describe", "Print the indexes of an Access table, one a line");
    describeCmd->add_option("DATABASE", describeDatabase, "Access database (.mdb or .accdb, Access 2000 and later)")->required();
    describeCmd->add_option("--table", describeTable, "The table")->required();
    describeCmd->footer(
        "Each line holds, separated by tabs: the index's name; its fields, a descending one marked; \"primary key\",\n"
        "\"unique\" or -; the sort order of its text (- for none); what this program does with its keys: written\n"
        "for the General sort orders, kept as Access wrote them for any other (records can then be corrected\n"
        "and deleted, not added, and the index's fields not changed).");

    TEditOptions update, insert, remove;
    auto* updateCmd = app.add_subcommand("update", "Change fields of one record of an Access table");
    auto* insertCmd = app.add_subcommand("insert", "Add a record to an Access table");
    auto* deleteCmd = app.add_subcommand("delete", "Delete one record of an Access table");
    for (auto [cmd, options] : {std::pair{updateCmd, &update}, std::pair{insertCmd, &insert}, std::pair{deleteCmd, &remove}}) {
        cmd->add_option("DATABASE", options->Database, "Access database (.mdb or .accdb, Access 2000 and later)")->required();
        cmd->add_option("--table", options->Table, "The table")->required();
        if (cmd != insertCmd)
            cmd->add_option("--record", options->Record, "The record: 1 for the first, in the order the table reads")
                ->required();
        if (cmd != deleteCmd)
            cmd->add_option("--set", options->Sets,
                            "FIELD=VALUE, VALUE read by the field's type: '.' as decimal point, dates as "
                            "YYYY-MM-DD[ HH:MM[:SS]], Yes/No as true/false or 1/0; an empty VALUE is NULL")
                ->required(cmd == updateCmd);
        cmd->footer("The file is changed completely or not at all; on refusal or failure the reason goes to stderr, "
                    "the exit status is 1 and the file is unchanged.");
    }

    const TSkillCommands skill(app);

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
    if (skill.Parsed()) return skill.Run(out, err);
    if (updateCmd->parsed()) return EditRecords(TRecordChange::TKind::Update, update, out, err);
    if (insertCmd->parsed()) return EditRecords(TRecordChange::TKind::Insert, insert, out, err);
    if (deleteCmd->parsed()) return EditRecords(TRecordChange::TKind::Delete, remove, out, err);
    if (tablesCmd->parsed()) return ListTables(tablesDatabase, out, err);
    if (describeCmd->parsed()) return DescribeIndexes(describeDatabase, describeTable, out, err);
    if (exportCmd->parsed()) return Export(exportSource, exportTable, out, err);
    return ListFields(fieldsSource, fieldsTable, out, err);
}

}  // namespace quorlin
