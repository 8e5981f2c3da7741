// The commit of one change to a table of an Access 2000-2003 file. Its invariants:
//
//  1. Writers take turns. A change holds the file's advisory lock from before it reads the file
//     until it has read the table back, on the file it read and on the file it writes, locked
//     before it takes the name; a second writer waits its turn (up to TurnWait), then refuses.
//  2. A change is made only on the records the user saw: the table is read afresh, and when it
//     differs from what was read earlier the change is refused (but for a change that depends
//     on none of them, a new record). The records read earlier stand in for the fresh reading
//     only when their fingerprint says they were read, as this table, from exactly the bytes
//     the writer loaded.
//  3. Nothing is written before the rebuilt table has been checked to hold together. A change
//     refused before then leaves the file byte for byte as it was.
//  4. The file at the path is at every moment either the old file or the new one, whole: the new
//     one is written beside it, synced, and renamed over it, keeping owner, group and mode. A
//     file whose owner could not be kept, or that has other names (hard links), is not replaced.
//  5. Another program's change wins. The file as read is compared with the file as it is on disk
//     right before the rename and again after it; when another program wrote into it, its
//     version is what stays at the path, and the change is reported as failed.
//  6. A change counts as made only when the table, read back through a fresh reading process,
//     holds exactly the records meant. Otherwise the old file is put back whole, but only while
//     the file at the path is byte for byte what this writer wrote; the error says which.
//  7. A writer that dies leaves at most its temporary file, which the next writer removes.
//  8. A refusal says what stops the change in words the user can act on: the format code's
//     refusals reach the user as they are, and damage found anywhere in the file is told as the
//     file being damaged.
//
// How the file's pages, rows, maps and indexes are rebuilt is data/jet's; this file sequences.

#include "MdbWriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>

#include "../statistics/DataSet.h"
#include "../support/FileWrite.h"
#include "Fingerprint.h"
#include "Isolation.h"
#include "WriteTurn.h"
#include "ProviderError.h"
#include "jet/Damage.h"
#include "jet/TableRebuild.h"
#include "jet/WritableTable.h"

namespace quorlin {

namespace {

using TAssigned = std::vector<std::optional<jet::TParsedValue>>;

std::function<void(std::string_view)>& StepHook()
{
    static std::function<void(std::string_view)> hook;
    return hook;
}

void Step(std::string_view step)
{
    if (StepHook()) StepHook()(step);
}

[[noreturn]] void Refuse(const std::string& why) { throw EProviderError(why); }

std::string DamagedText(const std::string& path)
{
    return "The database file '" + path + "' is damaged; it cannot be changed.";
}

// Runs a step of the format code, its refusals raised as the provider's (invariant 8).
template <class TStep>
decltype(auto) Guarded(const std::string& path, TStep&& step)
{
    try {
        return step();
    } catch (const jet::ERefused& e) {
        Refuse(e.what());
    } catch (const jet::EDamaged&) {
        Refuse(DamagedText(path));
    }
}

std::string_view AsChars(const jet::TBytes& bytes)
{
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// ---------------------------------------------------------------------------------------------
// Taking the turn, and the file as it may be written.

// How long a writer waits for its turn (invariant 1).
constexpr auto TurnWait = std::chrono::seconds(10);

// Access's lock file beside the database, whatever the letter case of either name: the file
// is open in Access while it exists.
std::optional<std::string> LockFileOf(const std::string& path)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path file = fs::absolute(path, ec);
    const std::string stem = file.stem().string();
    for (const auto& entry : fs::directory_iterator(file.parent_path(), ec)) {
        const fs::path name = entry.path().filename();
        const std::string ext = name.extension().string();
        if (SameFieldName(name.stem().string(), stem) && (SameFieldName(ext, ".ldb") || SameFieldName(ext, ".laccdb")))
            return entry.path().string();
    }
    return std::nullopt;
}

bool InGroup(gid_t gid)
{
    if (gid == ::getegid()) return true;
    std::vector<gid_t> groups(static_cast<std::size_t>(std::max(::getgroups(0, nullptr), 0)));
    const int n = ::getgroups(static_cast<int>(groups.size()), groups.data());
    return std::find(groups.begin(), groups.begin() + std::max(n, 0), gid) != groups.begin() + std::max(n, 0);
}

// Replacing the file makes a new one: it must be able to have the old one's owner and group,
// and no other name may point at the old one (invariant 4).
void CheckOwnership(const std::string& path, const struct stat& st)
{
    const bool root = ::geteuid() == 0;
    if (!root && st.st_uid != ::geteuid())
        Refuse("The database file '" + path + "' belongs to another user; replacing it would make it yours, so it is "
               "not changed here.");
    if (!root && !InGroup(st.st_gid))
        Refuse("The database file '" + path + "' belongs to a group you are not in; replacing it would change its "
               "group, so it is not changed here.");
    if (st.st_nlink > 1)
        Refuse("The database file '" + path + "' has more than one name (hard links); replacing it would part them, "
               "so it is not changed here.");
}

// A file may be replaced when it is there, Access does not have it open, and both it and its
// folder may be written. Returns its size.
std::size_t CheckReplaceable(const std::string& path)
{
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) Refuse("Could not find file '" + path + "'.");
    if (const auto lock = LockFileOf(path))
        Refuse("The database '" + path + "' is open in another program (its lock file '" + *lock +
               "' exists); it cannot be changed now.");
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || ::access(path.c_str(), W_OK) != 0)
        Refuse("The database file '" + path + "' is read-only.");
    CheckOwnership(path, st);
    const std::filesystem::path folder = std::filesystem::absolute(path, ec).parent_path();
    if (::access(folder.c_str(), W_OK) != 0)
        Refuse("The folder of the database file '" + path + "' is read-only, so the file cannot be replaced safely.");
    return static_cast<std::size_t>(st.st_size);
}

// Access 2000 and later files are written; Access 97 files are read-only here.
const jet::TFormat& WritableFormat(const std::string& path, const jet::TBytes& bytes)
{
    // Less than a page cannot hold even the database page.
    if (bytes.size() < jet::Jet4Format().PageSize || bytes[0] != static_cast<std::uint8_t>(jet::TPageType::Database))
        Refuse("The file '" + path + "' is not an Access database.");
    const jet::TFormat* format = jet::FormatOf(bytes[jet::database_page::Version]);
    if (format && format->Version == jet::TVersion::Jet3)
        Refuse("The database '" + path + "' is in Access 97 format, which is read-only here.");
    if (!format) Refuse("The database '" + path + "' is in a version of the Access format that this program does not know.");
    if (bytes.size() % format->PageSize != 0) Refuse(DamagedText(path));
    return *format;
}

// The file as it is, read through the writer's own handle when it holds the turn (so that it is
// the very file that is locked).
jet::TPageImage LoadForWriting(const std::string& path, const TWriteTurn* turn = nullptr)
{
    const std::size_t size = CheckReplaceable(path);
    jet::TBytes bytes = turn ? ReadWhole(turn->File()) : ReadWholeFile(path);
    if (bytes.size() != size) Refuse("The database file '" + path + "' cannot be read.");
    const jet::TFormat& format = WritableFormat(path, bytes);
    return jet::TPageImage(path, std::move(bytes), format);
}

jet::TTableDef WritableTable(const jet::TPageImage& image, const std::string& table)
{
    jet::TTableDef def = jet::FindTable(image, table);
    if (const std::string why = jet::WriteRefusalOf(def, image.Format()); !why.empty()) jet::Refused(why);
    return def;
}

// ---------------------------------------------------------------------------------------------
// The table as read through a fresh reading process, as every other part of the program reads it.

bool SameCell(const TColumnData& a, std::size_t i, const TColumnData& b, std::size_t j)
{
    if (a.Kinds[i] != b.Kinds[j]) return false;
    if (a.Kinds[i] == TCellKind::Text) return a.Texts[i] == b.Texts[j];
    if (a.Kinds[i] == TCellKind::Null) return true;
    const double x = a.Numbers[i], y = b.Numbers[j];
    if (a.Info.Type == TColumnType::Currency) return std::fabs(x - y) <= 1e-15 * std::fabs(x);
    return x == y || (std::isnan(x) && std::isnan(y));
}

// Whether count cells of a from i on are, one by one, the same as b's from j on. A table holds
// millions of cells: cells whose kinds and numbers are the same bytes are the same cells unless
// they hold text, so a run without text that is equal as memory needs no look at its cells.
bool SameCells(const TColumnData& a, std::size_t i, const TColumnData& b, std::size_t j, std::size_t count)
{
    if (count == 0) return true;
    const bool sameBytes = std::memcmp(a.Kinds.data() + i, b.Kinds.data() + j, count * sizeof(TCellKind)) == 0 &&
                           std::memcmp(a.Numbers.data() + i, b.Numbers.data() + j, count * sizeof(double)) == 0;
    if (sameBytes && a.Texts.empty() && b.Texts.empty()) return true;
    for (std::size_t k = 0; k < count; ++k)
        if (!SameCell(a, i + k, b, j + k)) return false;
    return true;
}

bool SameTable(const TTableData& a, const TTableData& b)
{
    if (a.RecordCount != b.RecordCount || a.Columns.size() != b.Columns.size()) return false;
    for (std::size_t c = 0; c < a.Columns.size(); ++c) {
        if (a.Columns[c].Info.Name != b.Columns[c].Info.Name) return false;
        if (!SameCells(a.Columns[c], 0, b.Columns[c], 0, static_cast<std::size_t>(a.RecordCount))) return false;
    }
    return true;
}

// Invariant 2.
void CheckUnchangedSince(const TTableData* readEarlier, const TTableData& now, const std::string& table)
{
    if (readEarlier && !SameTable(*readEarlier, now))
        Refuse("The table '" + table + "' was changed by another program since it was read; refresh it and make the change again.");
}

// Whether the records are what reading the table from the loaded bytes would give: the reading
// process vouched that it read them, as this table, from bytes that hash alike.
bool ReadFromLoaded(const TTableData& records, const jet::TPageImage& image, const std::string& table)
{
    return records.Fingerprint && *records.Fingerprint == TableFingerprint(FileHash(image.Loaded()), table);
}

// The records the change is made on (invariant 2): those read earlier when they were read from
// the very bytes loaded, else the table read afresh into readNow and, when the change depends
// on them, checked against them.
const TTableData& RecordsBefore(const jet::TPageImage& image, const std::string& table, const TTableData* readEarlier,
                                TEarlierRecords use, std::optional<TTableData>& readNow)
{
    if (readEarlier && ReadFromLoaded(*readEarlier, image, table)) return *readEarlier;
    readNow = ReadRecordsIsolated(image.Path(), table, false);
    if (use == TEarlierRecords::MustHold) CheckUnchangedSince(readEarlier, *readNow, table);
    return *readNow;
}

bool SameAsStored(const TColumnData& a, std::size_t r, const jet::TParsedValue& v)
{
    if (a.Kinds[r] != v.Kind) return false;
    if (v.Kind == TCellKind::Text) return a.Texts[r] == v.Text;
    if (v.Kind == TCellKind::Number) return a.Numbers[r] == v.Number || std::fabs(a.Numbers[r] - v.Number) <= 1e-15 * std::fabs(v.Number);
    return true;
}

// Whether the cell of column c, record r after the change reads as meant: the stored value in
// the changed record, a blank for a field a new record leaves out, else the record as it was.
bool CellAsMeant(const TTableData& before, const TTableData& after, const TRecordChange& change,
                 const TAssigned& assigned, std::size_t c, std::int32_t r)
{
    using K = TRecordChange::TKind;
    const TColumnData& a = after.Columns[c];
    const auto ar = static_cast<std::size_t>(r);
    const bool changedRow = (change.Kind == K::Update && r == change.Record) ||
                            (change.Kind == K::Insert && r == before.RecordCount);
    if (changedRow && assigned[c]) return SameAsStored(a, ar, *assigned[c]);
    if (changedRow && change.Kind == K::Insert)  // a Yes/No field left out is No
        return a.Info.Type == TColumnType::Boolean ? a.Numbers[ar] == 0.0 : a.Kinds[ar] == TCellKind::Null;
    const std::size_t br = change.Kind == K::Delete && r >= change.Record ? ar + 1 : ar;
    return SameCell(before.Columns[c], br, a, ar);
}

// Whether every cell of column c reads as meant, the records the change leaves as they were
// compared as runs. False also for a change that names no record there; the cells then say.
bool ColumnAsMeant(const TTableData& before, const TTableData& after, const TRecordChange& change,
                   const TAssigned& assigned, std::size_t c)
{
    using K = TRecordChange::TKind;
    const TColumnData& b = before.Columns[c];
    const TColumnData& a = after.Columns[c];
    const auto n = static_cast<std::size_t>(before.RecordCount);
    if (change.Kind == K::Insert)
        return SameCells(b, 0, a, 0, n) && CellAsMeant(before, after, change, assigned, c, before.RecordCount);
    if (change.Record < 0 || change.Record >= before.RecordCount) return false;
    const auto r = static_cast<std::size_t>(change.Record);
    if (change.Kind == K::Delete) return SameCells(b, 0, a, 0, r) && SameCells(b, r + 1, a, r, n - r - 1);
    return SameCells(b, 0, a, 0, r) && CellAsMeant(before, after, change, assigned, c, change.Record) &&
           SameCells(b, r + 1, a, r + 1, n - r - 1);
}

// Invariant 6: the rows as they were, with the change made. assigned holds, by column of the
// table as read, the values the change stores.
void CheckReadBack(const TTableData& before, const TTableData& after, const TRecordChange& change,
                   const TAssigned& assigned, const std::string& table)
{
    auto fail = [&](const std::string& what) {
        throw EProviderError("The table '" + table + "' did not read back as it was written (" + what + ").");
    };
    using K = TRecordChange::TKind;
    const std::int32_t expected =
        before.RecordCount + (change.Kind == K::Insert ? 1 : 0) - (change.Kind == K::Delete ? 1 : 0);
    if (after.RecordCount != expected || after.Columns.size() != before.Columns.size()) fail("record count");
    for (std::size_t c = 0; c < after.Columns.size(); ++c) {
        if (after.Columns[c].Info.Name != before.Columns[c].Info.Name) fail("columns");
        if (ColumnAsMeant(before, after, change, assigned, c)) continue;
        for (std::int32_t r = 0; r < after.RecordCount; ++r)
            if (!CellAsMeant(before, after, change, assigned, c, r))
                fail("field '" + after.Columns[c].Info.Name + "' of record " + std::to_string(r + 1));
    }
}

// ---------------------------------------------------------------------------------------------
// The change in the definition's terms.

// Fields are named by their place in the table as read; the definition may list them in another
// order.
std::vector<std::size_t> DefinitionColumns(const jet::TTableDef& def, const TTableData& read)
{
    std::vector<std::size_t> columns(read.Columns.size());
    for (std::size_t c = 0; c < read.Columns.size(); ++c) {
        const auto it = std::find_if(def.Columns.begin(), def.Columns.end(),
                                     [&](const jet::TColumnDef& col) { return col.Name == read.Columns[c].Info.Name; });
        if (it == def.Columns.end()) jet::Damaged("the field '" + read.Columns[c].Info.Name + "' has no definition");
        columns[c] = static_cast<std::size_t>(it - def.Columns.begin());
    }
    return columns;
}

jet::TTableChange TableChange(const jet::TTableDef& def, const TRecordChange& change, const std::vector<std::size_t>& defColumn)
{
    using K = TRecordChange::TKind;
    jet::TTableChange result;
    result.Kind = change.Kind == K::Update ? jet::TChangeKind::Update
                  : change.Kind == K::Insert ? jet::TChangeKind::Insert
                                             : jet::TChangeKind::Delete;
    result.Record = change.Record;
    result.Values.resize(def.Columns.size());
    if (change.Kind == K::Delete) return result;
    for (const TFieldText& value : change.Values) {
        if (value.Field < 0 || static_cast<std::size_t>(value.Field) >= defColumn.size()) Refuse("Field index out of range");
        const std::size_t column = defColumn[static_cast<std::size_t>(value.Field)];
        jet::CheckAssignable(def.Columns[column]);
        result.Values[column] = jet::TValueParser(def.Columns[column]).Parse(value.Text);
    }
    return result;
}

// What the change stored, AutoNumbers included, by column of the table as read.
TAssigned AssignedByField(const jet::TTableChange& change, const std::vector<std::size_t>& defColumn)
{
    TAssigned assigned(defColumn.size());
    for (std::size_t c = 0; c < defColumn.size(); ++c) assigned[c] = change.Values[defColumn[c]];
    return assigned;
}

// ---------------------------------------------------------------------------------------------
// Writing, reading back, putting back.

[[noreturn]] void ChangedMeanwhile(const std::string& path, const std::string& what)
{
    Refuse("The database '" + path + "' was changed by another program meanwhile; refresh and try again." + what);
}

// Replaces the file, holding the new one before it takes the name (invariants 1 and 4).
void Replace(const std::string& path, const jet::TBytes& bytes, TWriteTurn& turn,
             const std::function<void()>& beforeRename = {})
{
    TReplaceOptions options;
    options.Step = StepHook();
    options.BeforeRename = [&](int fd) {
        if (beforeRename) beforeRename();
        turn.Hold(fd);
    };
    try {
        ReplaceFileContents(path, AsChars(bytes), options);
    } catch (const EFileWriteError& e) {
        Refuse("The database file '" + path + "' cannot be written: " + e.what());
    }
}

// Invariant 5: the change goes in only over the file as it was read, and a write into that file
// during the rename is kept instead of the change.
void WriteChange(const std::string& path, const jet::TPageImage& image, TWriteTurn& turn)
{
    Replace(path, image.Bytes(), turn, [&] {
        if (!FileHolds(turn.File(), image.Loaded())) ChangedMeanwhile(path, "");
    });
    if (FileHolds(turn.File(), image.Loaded())) return;
    Replace(path, ReadWhole(turn.File()), turn);
    ChangedMeanwhile(path, " The other program's version was kept.");
}

// Invariant 6: the old file is put back only over what this writer wrote.
[[noreturn]] void PutBack(const std::string& path, const jet::TPageImage& image, TWriteTurn& turn,
                          const std::string& failure)
{
    if (!FileAtPathHolds(path, image.Bytes()))
        ChangedMeanwhile(path, " (" + failure + " The file was left as the other program made it.)");
    try {
        ReplaceFileContents(path, AsChars(image.Loaded()), TReplaceOptions{{}, [&](int fd) { turn.Hold(fd); }});
    } catch (const EFileWriteError& restore) {
        throw EProviderError(failure + " The previous file could not be put back: " + restore.what());
    }
    throw EProviderError(failure + " The file was put back as it was before the change.");
}

TTableData ReadBackOrPutBack(const std::string& path, const jet::TPageImage& image, TWriteTurn& turn,
                             const TTableData& before, const TRecordChange& change, const TAssigned& assigned,
                             const std::string& table)
{
    try {
        TTableData after = ReadRecordsIsolated(path, table, false);
        CheckReadBack(before, after, change, assigned, table);
        Step("verified");
        return after;
    } catch (const std::exception& e) {
        PutBack(path, image, turn, e.what());
    }
}

}  // namespace

void SetWriteStepHook(std::function<void(std::string_view step)> hook) { StepHook() = std::move(hook); }

std::string WriteRefusal(const std::string& path, const std::string& table)
{
    try {
        const jet::TPageImage image = LoadForWriting(path);
        Guarded(path, [&] {
            const jet::TTableDef def = WritableTable(image, table);
            jet::CheckKeyable(image.Pages(), def, jet::RecordsInPlace(image.Pages(), def));
        });
        return {};
    } catch (const EProviderError& e) {
        return e.what();
    }
}

TTableData ApplyRecordChange(const std::string& path, const std::string& table, const TRecordChange& change,
                             const TTableData* readEarlier, TEarlierRecords use)
{
    TWriteTurn turn(path, TurnWait);
    RemoveStaleTemporaries(path);
    jet::TPageImage image = LoadForWriting(path, &turn);
    jet::TTableDef def = Guarded(path, [&] { return WritableTable(image, table); });
    std::optional<TTableData> readNow;
    const TTableData& before = RecordsBefore(image, def.Name, readEarlier, use, readNow);

    const std::vector<std::size_t> defColumn = Guarded(path, [&] { return DefinitionColumns(def, before); });
    jet::TTableChange planned = Guarded(path, [&] { return TableChange(def, change, defColumn); });
    Guarded(path, [&] { jet::RebuildTable(image, def, planned, static_cast<std::size_t>(before.RecordCount)); });
    Step("built");

    WriteChange(path, image, turn);
    return ReadBackOrPutBack(path, image, turn, before, change, AssignedByField(planned, defColumn), def.Name);
}

}  // namespace quorlin
