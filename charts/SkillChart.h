#pragma once
// The pictures of a skill check: observed Y, the final equation's fitted values and the
// cross-validated hindcast against the record (or its year), and the hindcast against the
// observed value. Drawn with Qt Charts; this header needs no Qt, so the batch command can
// include it without knowing how the drawing is done.

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "statistics/ProbabilityScores.h"
#include "statistics/ScreeningNull.h"

namespace quorlin {

class EChartError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct TSkillChartData {
    std::string YName;
    bool Years = false;        // whether Axis holds years or numbers the records 1, 2, 3, ...
    std::vector<double> Axis;  // one value per record
    std::vector<double> Observed;
    std::vector<double> Fitted;
    std::vector<double> Hindcast;
    std::int32_t Leave = 1;
    // With the tercile outlook, the reliability of the hindcasts' chances is drawn too; with the
    // screening null test, each figure's null distribution with the actual figure marked.
    std::optional<TProbabilityScores> Outlook{};
    std::optional<TScreeningNull> Null{};
};

// Draws both charts side by side (and, below them, the reliability diagram and the null
// distributions when the data has them) and writes them to path as SVG or PNG, chosen by the
// extension (.svg or .png, any letter case), replacing the file whole. A path a report may not
// replace (a database, sourcePath, anything but a regular file) is refused
// (EReportTargetRefused); another extension, a failed drawing or write raise EChartError.
// Without a Qt application one is made for the drawing, on the offscreen platform, so no
// display is needed.
void SaveSkillChart(const TSkillChartData& data, const std::string& path, const std::string& sourcePath = {});

}  // namespace quorlin
