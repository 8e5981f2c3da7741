#pragma once
// What the skill and forecast subcommands print: plain text for a reader, or JSON. Figures the
// records cannot determine are null in JSON and "—" in text; no NaN or infinity is ever written.

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "statistics/Skill.h"

namespace quorlin {

struct TSkillRun {
    std::string Method;  // as given: "stepwise" or "full"
    double Fa = 4.0;
};

nlohmann::ordered_json SkillJson(const TSkill& skill, const TSkillRun& run);
std::vector<std::string> SkillText(const TSkill& skill, const TSkillRun& run);

// level is the percentage given on the command line.
nlohmann::ordered_json ForecastJson(const TForecast& forecast, double level);
std::string ForecastText(const std::string& yName, const TForecast& forecast, double level);

}  // namespace quorlin
