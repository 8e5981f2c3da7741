#pragma once
// What the skill and forecast subcommands add for the tercile outlook, the retroactive
// forecasts and the screening null test, after everything they print without them: JSON keys
// appended to the object, text lines appended to the report. Undetermined figures are null in
// JSON and "—" in text.

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <vector>

#include "statistics/ScreeningNull.h"
#include "statistics/Skill.h"
#include "statistics/TercileProbabilities.h"

namespace quorlin {

void AddOutlookJson(nlohmann::ordered_json& json, const TSkill& skill, const std::optional<TScreeningNull>& null);
void AddOutlookText(std::vector<std::string>& lines, const TSkill& skill, const std::optional<TScreeningNull>& null);

void AddForecastTercilesJson(nlohmann::ordered_json& json, const TTercileForecast& forecast);
// "below 12%  near 35%  above 53%"
std::string ForecastTercilesText(const TTercileForecast& forecast);

}  // namespace quorlin
