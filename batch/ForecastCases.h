#pragma once
// The new cases the forecast subcommand forecasts, each as the values of the equation's factors
// in the equation's order. Anything missing or unreadable is bad input (EUsage) naming what.

#include <string>
#include <vector>

#include "batch/BatchSource.h"

namespace quorlin {

// One case from FACTOR=VALUE assignments. Every factor of the equation needs one; others are
// accepted when they name a field of the source, so a script can pass all candidate factors.
std::vector<double> CaseFromAssignments(const TSource& source, const std::vector<std::string>& assignments,
                                        const std::vector<std::string>& factors);

// One case per record of a CSV file whose columns name the factors (letter case ignored; other
// columns are ignored). An empty cell of a factor is an error, not 0.
std::vector<std::vector<double>> CasesFromCsv(const std::string& path, const std::vector<std::string>& factors);

}  // namespace quorlin
