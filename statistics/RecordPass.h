#pragma once
// A pass over every record of a data set that leaves the cursor where it found it.

#include <cstdint>

#include "statistics/DataSet.h"

namespace quorlin {

// Puts the cursor back on the record that was current and resumes the data-aware controls,
// also when reading a record fails, so that a failed computation leaves the table browsable.
class TRecordPass {
public:
    explicit TRecordPass(TDataSet& query) : FQuery(query), FRecNo(query.RecNo()) { FQuery.DisableControls(); }
    ~TRecordPass()
    {
        if (FActive) {
            try {
                Restore();
            } catch (...) {
                // Already failing: the first error is the one to report.
            }
        }
    }
    TRecordPass(const TRecordPass&) = delete;
    TRecordPass& operator=(const TRecordPass&) = delete;

    void Finish()
    {
        FActive = false;
        Restore();
    }

private:
    void Restore()
    {
        struct Resume {
            TDataSet& Query;
            ~Resume() { Query.EnableControls(); }
        } resume{FQuery};
        FQuery.First();
        FQuery.MoveBy(FRecNo - 1);
    }

    TDataSet& FQuery;
    std::int32_t FRecNo;
    bool FActive = true;
};

}  // namespace quorlin
