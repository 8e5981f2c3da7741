#pragma once
// One computation: the sample statistics of the chosen columns, the equation object of the
// chosen method, the equation in data units as text, and the report.

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "numeric/Equation01.h"
#include "numeric/Matrix01.h"
#include "support/NumberText.h"
#include "statistics/DataSet.h"

namespace quorlin {

enum TMethod : std::int32_t { MethodStepwise = 1, MethodFull = 2 };

// More factors than the matrices of one computation may take memory for; raised before any of
// them is made.
class ETooManyFactors : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// What the matrices of one computation with m factors take, the statistics' and the equation
// object's together, and the most they may take.
std::uint64_t MatrixBytes(std::uint64_t factors) noexcept;
constexpr std::uint64_t MatrixMemoryLimit = std::uint64_t{2} << 30;

class TStatistics {
public:
    // Reads every record of query (three passes), forms means, covariances and correlations
    // and creates the equation object; the equation is solved by MakeEquationText. Any value
    // other than MethodStepwise selects the full multiple regression. onRemoval is told of each
    // factor the stepwise method takes out again, onStep of every entry and removal.
    TStatistics(TDataSet& query, const std::vector<std::string>& factorNames, const std::string& yFieldName,
                double fa, std::int32_t method, TRemovalNotifier onRemoval = {}, TStepNotifier onStep = {});
    TStatistics(const TStatistics&) = delete;
    TStatistics& operator=(const TStatistics&) = delete;
    ~TStatistics();

    TEquation& Compute(std::int32_t method);
    const std::vector<double>& CalcCoefficients();
    // Solves the equation (once), computes the coefficients and forms EquationText.
    std::int32_t MakeEquationText();
    // The report's lines, UTF-8, without line ends.
    std::vector<std::string> ReportLines() const;
    // Writes the report in code page 936 with CR LF line ends, replacing fileName whole. A file
    // that cannot be written raises EReportError naming the file and the reason; an existing
    // file is then left as it was. A file a report may not replace (a database, sourcePath, the
    // file the records were read from when there is one, or no regular file) raises
    // EReportTargetRefused and is not touched.
    std::int32_t SaveReport(const std::string& fileName, const std::string& sourcePath = {}) const;

    const std::vector<std::string>& FactorNames() const noexcept { return FFactorNames; }
    const std::string& YFieldName() const noexcept { return FYFieldName; }
    const std::string& EquationText() const noexcept { return FEquationText; }
    std::int32_t FactorCount() const noexcept { return FFactorCount; }
    std::int32_t SampleSize() const noexcept { return FSampleSize; }
    const TMatrix& Covariance() const noexcept { return FCovariance; }
    const TMatrix& CovarianceXY() const noexcept { return FCovarianceXY; }
    const TMatrix& Correlation() const noexcept { return FCorrelation; }
    const TMatrix& CorrelationXY() const noexcept { return FCorrelationXY; }
    double YVariance() const noexcept { return FYVariance; }
    double YSelfCorrelation() const noexcept { return FYSelfCorrelation; }
    const std::vector<double>& Coefficients() const noexcept { return FCoefficients; }
    double Constant() const noexcept { return FConstant; }
    const TEquation& Equation() const noexcept { return *FEquation; }
    const std::vector<double>& Means() const noexcept { return FMeans; }
    double YMean() const noexcept { return FYMean; }
    double Fa() const noexcept { return FFa; }
    // Q and U of the analysis of variance, in the units of Y's variance.
    double ResidualVariance() const;
    double RegressionVariance() const;

private:
    template <class Work>
    void ForEachRecord(bool withY, Work&& work);
    void ReadCurrentRecord(bool withY);
    void ReadMeans();
    void ReadCovariances();
    void ReadCovariancesWithY();
    void ComputeCorrelations();

    TDataSet& FQuery;
    std::vector<std::string> FFactorNames;
    std::string FYFieldName;
    std::string FEquationText;
    std::int32_t FFactorCount;
    std::int32_t FSampleSize;
    TMatrix FCovariance;
    TMatrix FCovarianceXY;
    TMatrix FCorrelation;
    TMatrix FCorrelationXY;
    double FYVariance = 0.0;
    double FYSelfCorrelation = 0.0;
    std::vector<double> FCoefficients;
    double FConstant = 0.0;
    std::unique_ptr<TEquation> FEquation;
    std::vector<double> FMeans;
    double FYMean = 0.0;
    double FFa;
    TRemovalNotifier FOnRemoval;
    TStepNotifier FOnStep;

    // The fields, looked up once per computation, and the current record's values.
    std::vector<std::int32_t> FFactorFields;
    std::int32_t FYField = -1;
    std::vector<double> FX;
    double FY = 0.0;
};

class EReportError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace quorlin
