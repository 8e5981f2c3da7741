#pragma once
// The numbers one skill computation works on, read from the records once: every factor's
// column and Y's, in record order. The cross-validation refits from these columns many times
// over; it never goes back to the data set.

#include <cstdint>
#include <string>
#include <vector>

#include "statistics/DataSet.h"

namespace quorlin {

class TSkillSample {
public:
    // Reads the named fields of every record. A value that is no number raises the data layer's
    // error, a NaN or an infinity EMathError, as the regression's own reading does; the cursor
    // is left on the record that was current.
    TSkillSample(TDataSet& data, std::vector<std::string> factorNames, std::string yName);
    // Columns given directly: factors[i][k] is factor i in record k.
    TSkillSample(std::vector<std::string> factorNames, std::vector<std::vector<double>> factors, std::string yName,
                 std::vector<double> y);

    std::int32_t RecordCount() const noexcept { return static_cast<std::int32_t>(FY.size()); }
    std::int32_t FactorCount() const noexcept { return static_cast<std::int32_t>(FFactors.size()); }
    const std::vector<std::string>& FactorNames() const noexcept { return FFactorNames; }
    const std::string& YName() const noexcept { return FYName; }
    const std::vector<double>& Factor(std::int32_t i) const { return FFactors.at(static_cast<std::size_t>(i)); }
    const std::vector<double>& Y() const noexcept { return FY; }
    // Column i, the factors first and Y as column FactorCount().
    const std::vector<double>& Column(std::int32_t i) const
    {
        return i == FactorCount() ? FY : FFactors.at(static_cast<std::size_t>(i));
    }

private:
    std::vector<std::string> FFactorNames;
    std::string FYName;
    std::vector<std::vector<double>> FFactors;
    std::vector<double> FY;
};

}  // namespace quorlin
