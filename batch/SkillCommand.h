#pragma once
// The skill and forecast subcommands of quorlin-batch:
//
//   quorlin-batch skill SOURCE [--table T] --y Y [--x X]... [--method stepwise|full] [--fa F]
//                 [--leave K] [--terciles] [--retroactive [N0]] [--null K [--seed S]] [--json]
//                 [--plot FILE.svg|FILE.png]
//   quorlin-batch forecast SOURCE [--table T] --y Y [--x X]... [--method ...] [--fa F]
//                 [--level P] [--terciles] (--with FACTOR=VALUE... | --cases FILE.csv) [--json]

#include <CLI/CLI.hpp>

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "batch/BatchSource.h"
#include "statistics/ScreeningNull.h"

namespace quorlin {

class TSkillCommands {
public:
    // Adds both subcommands to app.
    explicit TSkillCommands(CLI::App& app);

    // After parsing: whether one of them was chosen, and running it.
    bool Parsed() const { return FSkillCmd->parsed() || FForecastCmd->parsed(); }
    int Run(std::ostream& out, std::ostream& err) const;

private:
    int RunSkill(std::ostream& out, std::ostream& err) const;
    int RunForecast(std::ostream& out, std::ostream& err) const;
    // What --retroactive and --null ask for, checked against the records.
    std::optional<std::int32_t> RetroactiveStart(std::int32_t recordCount) const;
    std::optional<TNullOptions> NullOptions() const;

    CLI::App* FSkillCmd = nullptr;
    CLI::App* FForecastCmd = nullptr;
    TEquationOptions FSkill;
    std::int32_t FLeave = 1;
    std::string FPlot;
    bool FTerciles = false;
    CLI::Option* FRetroactiveOption = nullptr;
    std::string FRetroactive;
    std::string FNullRuns;
    std::string FSeed = "1";
    bool FForecastTerciles = false;
    TEquationOptions FForecast;
    std::string FLevel = "95";
    std::vector<std::string> FWith;
    std::string FCases;
};

}  // namespace quorlin
