#pragma once
// The skill and forecast subcommands of quorlin-batch:
//
//   quorlin-batch skill SOURCE [--table T] --y Y [--x X]... [--method stepwise|full] [--fa F]
//                 [--leave K] [--json] [--plot FILE.svg|FILE.png]
//   quorlin-batch forecast SOURCE [--table T] --y Y [--x X]... [--method ...] [--fa F]
//                 [--level P] (--with FACTOR=VALUE... | --cases FILE.csv) [--json]

#include <CLI/CLI.hpp>

#include <iosfwd>
#include <string>
#include <vector>

#include "batch/BatchSource.h"

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

    CLI::App* FSkillCmd = nullptr;
    CLI::App* FForecastCmd = nullptr;
    TEquationOptions FSkill;
    std::int32_t FLeave = 1;
    std::string FPlot;
    TEquationOptions FForecast;
    std::string FLevel = "95";
    std::vector<std::string> FWith;
    std::string FCases;
};

}  // namespace quorlin
