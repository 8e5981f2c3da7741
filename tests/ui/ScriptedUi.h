#pragma once
// The user, scripted: answers the program's questions from prepared lists and records what the
// program showed.

#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "data/windows/UserInterface.h"

namespace quorlin::testing {

struct ShownBox {
    std::string Text;
    std::string Caption;
    int Flags;
};

class ScriptedUi : public TUserInterface {
public:
    // The system's value for OK and Cancel buttons, which UserInterface.h does not name.
    static constexpr int OkCancel = 0x01;

    int MessageBox(const std::string& text, const std::string& caption, int flags) override
    {
        BusyAtBoxes.push_back(Busy);
        Boxes.push_back({text, caption, flags});
        if ((flags & 0x0F) == MB_YESNO) {
            const int answer = YesNoAnswers.empty() ? IDNO : YesNoAnswers.front();
            if (!YesNoAnswers.empty()) YesNoAnswers.pop_front();
            return answer;
        }
        if ((flags & 0x0F) == OkCancel) {
            const int answer = OkCancelAnswers.empty() ? IDCANCEL : OkCancelAnswers.front();
            if (!OkCancelAnswers.empty()) OkCancelAnswers.pop_front();
            return answer;
        }
        return IDOK;
    }
    void ShowError(const std::string& text) override { Errors.push_back(text); }
    std::optional<std::string> OpenFileName(const std::string& title, const std::vector<TFileFilter>& filters) override
    {
        OpenTitles.push_back(title);
        LastOpenFilters = filters;
        return Next(OpenAnswers);
    }
    std::optional<std::string> SaveFileName(const std::string& title, const std::vector<TFileFilter>& filters,
                                            const std::string& defaultSuffix) override
    {
        SaveTitles.push_back(title);
        LastSaveFilters = filters;
        LastDefaultSuffix = defaultSuffix;
        return Next(SaveAnswers);
    }
    void OpenWithDesktop(const std::string& path) override { Opened.push_back(path); }
    void SetBusy(bool busy) override
    {
        Busy += busy ? 1 : -1;
        if (busy) ++BusySpells;
    }

    std::deque<std::optional<std::string>> OpenAnswers;
    std::deque<std::optional<std::string>> SaveAnswers;
    std::deque<int> YesNoAnswers;
    std::deque<int> OkCancelAnswers;  // unanswered: Cancel

    std::vector<ShownBox> Boxes;
    std::vector<std::string> Errors;
    std::vector<std::string> OpenTitles;
    std::vector<std::string> SaveTitles;
    std::vector<std::string> Opened;
    std::vector<TFileFilter> LastOpenFilters;
    std::vector<TFileFilter> LastSaveFilters;
    std::string LastDefaultSuffix;
    int Busy = 0;        // how deep in busy spells the program is now
    int BusySpells = 0;  // how many began
    std::vector<int> BusyAtBoxes;  // Busy when each message box was shown

private:
    static std::optional<std::string> Next(std::deque<std::optional<std::string>>& answers)
    {
        if (answers.empty()) return std::nullopt;
        auto answer = answers.front();
        answers.pop_front();
        return answer;
    }
};

}  // namespace quorlin::testing
