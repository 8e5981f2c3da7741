#pragma once
// One change to one table rebuilt alone, as the writer's tests make it: the writer itself always
// rebuilds every table a plan changes, with all of its changes at once.

#include <cstdint>

#include "data/format/Damage.h"
#include "data/format/write/TableRebuild.h"
#include "support/Messages.h"

namespace quorlin::jet {

enum class TChangeKind : std::uint8_t { Update, Insert, Delete };

struct TTableChange {
    TChangeKind Kind = TChangeKind::Update;
    std::int32_t Record = 0;  // Update and Delete: in the order the table reads
    TFieldValues Values;
};

// A new record is given its AutoNumbers first, in def and in change.Values.
inline void RebuildTable(TPageImage& image, TTableDef& def, TTableChange& change, std::size_t recordsRead)
{
    TTableChanges changes;
    if (change.Kind == TChangeKind::Insert) {
        AssignAutoNumbers(def, change.Values);
        changes.Inserts.push_back(change.Values);
    } else if (change.Record < 0) {
        Refused(quorlin::Format(Tr("The table '%1$s' has no record %2$s."), def.Name, change.Record + 1));
    } else if (change.Kind == TChangeKind::Delete) {
        changes.Deletes.insert(static_cast<std::size_t>(change.Record));
    } else {
        changes.Updates.emplace(static_cast<std::size_t>(change.Record), change.Values);
    }
    RebuildTable(image, def, changes, recordsRead);
}

}  // namespace quorlin::jet
