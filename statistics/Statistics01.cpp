#include "statistics/Statistics01.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "numeric/FloatError.h"
#include "support/FileWrite.h"
#include "support/ReportTarget.h"
#include "support/TextCodec.h"
#include "statistics/RecordPass.h"
#include "support/Messages.h"

namespace quorlin {

using checked::Divide;
using checked::Sqrt;
using checked::Store;


namespace {

// Refuses a factor count whose matrices would not fit, so that a table of a hundred thousand
// columns costs a message instead of all the machine's memory.
std::int32_t CheckedFactorCount(std::size_t factors)
{
    if (MatrixBytes(factors) <= MatrixMemoryLimit) return static_cast<std::int32_t>(factors);
    char need[32];
    std::snprintf(need, sizeof need, "%.1f GiB", static_cast<double>(MatrixBytes(factors)) / double(1 << 30));
    throw ETooManyFactors(Format(Tr("Too many factors: %1$s of them need %2$s of memory"), factors, need));
}

}  // namespace

std::uint64_t MatrixBytes(std::uint64_t factors) noexcept
{
    // Covariances and correlations (m x m each), the equation's copy of the correlations and
    // its augmented matrix ((m + 1) x (m + 1)): four squares of doubles, near enough.
    const std::uint64_t side = factors + 1;
    if (side > (std::uint64_t{1} << 28)) return UINT64_MAX;
    return 4 * side * side * sizeof(double);
}

TStatistics::TStatistics(TDataSet& query, const std::vector<std::string>& factorNames,
                         const std::string& yFieldName, double fa, std::int32_t method, TRemovalNotifier onRemoval,
                         TStepNotifier onStep)
    : FQuery(query),
      FFactorNames(factorNames),
      FYFieldName(yFieldName),
      FFactorCount(CheckedFactorCount(factorNames.size())),
      FSampleSize(query.RecordCount()),
      FCovariance(FFactorCount, FFactorCount),
      FCovarianceXY(FFactorCount, 1),
      FCorrelation(FFactorCount, FFactorCount),
      FCorrelationXY(FFactorCount, 1),
      FCoefficients(static_cast<std::size_t>(FFactorCount), 0.0),
      FMeans(static_cast<std::size_t>(FFactorCount), 0.0),
      FFa(fa),
      FOnRemoval(std::move(onRemoval)),
      FOnStep(std::move(onStep))
{
    Compute(method);
}

TStatistics::~TStatistics() = default;

TEquation& TStatistics::Compute(std::int32_t method)
{
    const auto m = static_cast<std::size_t>(FFactorCount);
    FFactorFields.resize(m);
    for (std::size_t i = 0; i < m; ++i) FFactorFields[i] = FQuery.FieldByName(FFactorNames[i]);
    FYField = FQuery.FieldByName(FYFieldName);
    FX.assign(m, 0.0);

    // Step 1: every statistic starts at 0 (the matrices and vectors are new and zero).
    FYMean = FYVariance = FYSelfCorrelation = FConstant = 0.0;

    ReadMeans();
    ReadCovariances();
    ReadCovariancesWithY();
    ComputeCorrelations();

    if (method == MethodStepwise)
        FEquation = std::make_unique<TTigEquation>(FCorrelation, FCorrelationXY, &FYSelfCorrelation, FFa,
                                                   FSampleSize, FOnRemoval, FOnStep);
    else
        FEquation = std::make_unique<TAugEquation>(FCorrelation, FCorrelationXY, &FYSelfCorrelation, FFa, FSampleSize);
    return *FEquation;
}

template <class Work>
void TStatistics::ForEachRecord(bool withY, Work&& work)
{
    TRecordPass pass(FQuery);
    FQuery.First();
    while (!FQuery.Eof()) {
        ReadCurrentRecord(withY);
        work();
        FQuery.Next();
    }
    pass.Finish();
}

void TStatistics::ReadCurrentRecord(bool withY)
{
    // Factors first, then Y: the order in which the arithmetic uses them, so that the first
    // unreadable value is the one reported.
    for (std::size_t i = 0; i < FX.size(); ++i) FX[i] = checked::Operand(FQuery.AsFloat(FFactorFields[i]));
    if (withY) FY = checked::Operand(FQuery.AsFloat(FYField));
}

void TStatistics::ReadMeans()
{
    const Extended n = FSampleSize;
    ForEachRecord(true, [&] {
        for (std::size_t i = 0; i < FX.size(); ++i) FMeans[i] = Store(FMeans[i] + FX[i] / n);
        FYMean = Store(FYMean + FY / n);
    });
}

void TStatistics::ReadCovariances()
{
    // S(i,j) and S(j,i) receive the same terms in the same order, so they are accumulated once,
    // over the upper triangle in row order, and mirrored at the end.
    //
    // This pass does m(m+1)/2 divisions per record and dominates the whole computation. When
    // every centred value of a record is below 2^500 in magnitude, no product, quotient or sum of
    // the pass can leave double's range (|S(i,j)| never exceeds the largest |dx_i dx_j|), so the
    // record is accumulated in double arithmetic, which the compiler can vectorize; the terms
    // then differ from extended intermediates by at most a rounding in the last bit. Any other
    // record takes the extended path, where an overflow is detected exactly where it occurs.
    const std::size_t m = FX.size();
    const Extended n = FSampleSize;
    const double nd = FSampleSize;
    std::vector<double> upper(m * (m + 1) / 2, 0.0);
    std::vector<double> centred(m);
    std::vector<Extended> wide(m);
    ForEachRecord(false, [&] {
        bool small = true;
        for (std::size_t i = 0; i < m; ++i) {
            centred[i] = FX[i] - FMeans[i];
            small = small && std::fabs(centred[i]) < 0x1p500;
        }
        double* s = upper.data();
        if (small) {
            for (std::size_t i = 0; i < m; ++i) {
                const double di = centred[i];
                const double* dj = centred.data() + i;
                const std::size_t count = m - i;
                for (std::size_t j = 0; j < count; ++j) s[j] += di * dj[j] / nd;
                s += count;
            }
            return;
        }
        for (std::size_t i = 0; i < m; ++i) wide[i] = static_cast<Extended>(FX[i]) - FMeans[i];
        for (std::size_t i = 0; i < m; ++i)
            for (std::size_t j = i; j < m; ++j, ++s) *s = Store(*s + wide[i] * wide[j] / n);
    });
    const double* s = upper.data();
    for (std::int32_t i = 0; i < FFactorCount; ++i)
        for (std::int32_t j = i; j < FFactorCount; ++j, ++s) {
            FCovariance.SetElement(*s, i, j);
            FCovariance.SetElement(*s, j, i);
        }
}

void TStatistics::ReadCovariancesWithY()
{
    const Extended n = FSampleSize;
    FYVariance = 0.0;
    ForEachRecord(true, [&] {
        const Extended dy = static_cast<Extended>(FY) - FYMean;
        for (std::size_t i = 0; i < FX.size(); ++i) {
            double& sxy = *FCovarianceXY.Element(static_cast<std::int32_t>(i), 0);
            sxy = Store(sxy + (static_cast<Extended>(FX[i]) - FMeans[i]) * dy / n);
        }
        FYVariance = Store(FYVariance + dy * dy / n);
    });
}

void TStatistics::ComputeCorrelations()
{
    const std::int32_t m = FFactorCount;
    auto S = [&](std::int32_t i, std::int32_t j) -> Extended { return *FCovariance.Element(i, j); };
    for (std::int32_t i = 0; i < m; ++i)
        for (std::int32_t j = 0; j < m; ++j)
            FCorrelation.SetElement(Store(Divide(S(i, j), Sqrt(S(j, j) * S(i, i)))), i, j);
    for (std::int32_t i = 0; i < m; ++i)
        FCorrelationXY.SetElement(
            Store(Divide(*FCovarianceXY.Element(i, 0), Sqrt(S(i, i) * static_cast<Extended>(FYVariance)))), i, 0);
    const Extended vy = FYVariance;
    FYSelfCorrelation = Store(Divide(vy, Sqrt(vy * vy)));
}

const std::vector<double>& TStatistics::CalcCoefficients()
{
    FConstant = FYMean;
    for (std::int32_t i = 0; i < FFactorCount; ++i) {
        const Extended sii = *FCovariance.Element(i, i);
        const auto k = static_cast<std::size_t>(i);
        FCoefficients[k] = Store(Sqrt(Divide(FYVariance, sii)) * FEquation->Beta(i));
        FConstant = Store(FConstant - static_cast<Extended>(FCoefficients[k]) * FMeans[k]);
    }
    return FCoefficients;
}

std::int32_t TStatistics::MakeEquationText()
{
    FEquation->Solve();
    CalcCoefficients();
    FEquationText = FYFieldName + "=" + FormatFloat("%.3f", FConstant);
    for (std::int32_t i = 0; i < FEquation->FactorCount(); ++i) {
        const std::string term = FormatFloat("%+.3f", FCoefficients[static_cast<std::size_t>(i)]);
        // A coefficient that shows as zero at three decimals is left out.
        if (TextToFloat(term) != 0.0) FEquationText += term + "*" + FFactorNames[static_cast<std::size_t>(i)];
    }
    return 0;
}

double TStatistics::ResidualVariance() const
{
    return Store(static_cast<Extended>(FEquation->ResidualShare()) * FYVariance);
}

double TStatistics::RegressionVariance() const
{
    return Store(static_cast<Extended>(FEquation->RegressionShare()) * FYVariance);
}

std::vector<std::string> TStatistics::ReportLines() const
{
    std::string header;
    for (const auto& name : FFactorNames) header += name + "  ";
    header += "|  " + FYFieldName;

    auto matrixRow = [&](const TMatrix& block, const TMatrix& withY, std::int32_t i) {
        std::string row;
        for (std::int32_t j = 0; j < FFactorCount; ++j)
            row += FormatFloat(j + 1 < FFactorCount ? "% .5f  " : "% .5f  |  ", *block.Element(i, j));
        return row + FormatFloat("% .5f", *withY.Element(i, 0));
    };

    std::vector<std::string> lines;
    lines.reserve(10 + 2 * static_cast<std::size_t>(FFactorCount));
    lines.push_back("[回归方程]");
    lines.push_back(FEquationText);
    lines.push_back("[方差贡献]");
    lines.push_back("无效方差贡献Q=" + FormatFloat("%.5f", ResidualVariance()));
    lines.push_back("有效方差贡献U=" + FormatFloat("%.5f", RegressionVariance()));
    lines.push_back("复相关系数R=" + FormatFloat("%.5f", FEquation->MultipleR()));
    lines.push_back("[相关系数R矩阵]");
    lines.push_back(header);
    for (std::int32_t i = 0; i < FFactorCount; ++i) lines.push_back(matrixRow(FCorrelation, FCorrelationXY, i));
    lines.push_back("[协方差S矩阵]");
    lines.push_back(header);
    for (std::int32_t i = 0; i < FFactorCount; ++i) lines.push_back(matrixRow(FCovariance, FCovarianceXY, i));
    return lines;
}

std::int32_t TStatistics::SaveReport(const std::string& fileName, const std::string& sourcePath) const
{
    CheckReportTarget(fileName, sourcePath);
    std::string text;
    for (const auto& line : ReportLines()) text += line + "\r\n";
    try {
        ReplaceFileContents(fileName, Utf8ToCp936(text), TReplaceOptions{{}, {}, ReportTargetJudge(fileName, sourcePath)});
    } catch (const EFileWriteError& e) {
        throw EReportError(Format(Tr("Cannot write report '%1$s': %2$s"), fileName, e.what()));
    }
    return 0;
}

}  // namespace quorlin
