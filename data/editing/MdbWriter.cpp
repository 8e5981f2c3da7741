// The commit of one change to a table of an Access 2000 or later file, with the changes its
// relationships cascade to in other tables. Its invariants:
//
//  1. Writers take turns. A change holds the file's advisory lock from before it reads the file
//     until it has read the table back, on the file it read and on the file it writes, locked
//     before it takes the name; a second writer waits its turn (up to TurnWait), then refuses.
//  2. A change is made only on the records the user saw: the table is read afresh, and when it
//     differs from what was read earlier the change is refused (but for a change that depends
//     on none of them, a new record). The records read earlier stand in for the fresh reading
//     only when their fingerprint says they were read, as this table, from exactly the bytes
//     the writer loaded.
//  3. Nothing is written before the change has been checked against the relationships of the
//     table and every rebuilt table has been checked to hold together. A change refused before
//     then leaves the file byte for byte as it was.
//  4. The file at the path is at every moment either the old file or the new one, whole: the new
//     one is written beside it, synced, and renamed over it, keeping owner, group and mode. A
//     file whose owner could not be kept, or that has other names (hard links), is not replaced.
//  5. Another program's change wins. No change is made while another program holds the file
//     open for writing (looked for before the change and again right before the rename): one
//     that edits in place without a lock would write into the old file after the rename. The
//     file as read is compared with the file as it is on disk right before the rename and again
//     after it, once no other program holds it any more; when another program wrote into it, its
//     version is what stays at the path, and the change is reported as failed.
//  6. A change counts as made only when the table, and every table its relationships carried it
//     to, read back through a fresh reading process, hold exactly the records meant. Otherwise
//     the old file is put back whole, but only while the file at the path is byte for byte what
//     this writer wrote; the error says which.
//  7. A writer that dies leaves at most its temporary file, which the next writer removes.
//  8. A refusal says what stops the change in words the user can act on: the format code's
//     refusals reach the user as they are, and damage found anywhere in the file is told as the
//     file being damaged.
//
// The states of a commit and the function that takes it to the next (TCommitState; a debug build
// asserts that they come in this order and no other):
//
//   TURN      TWriteTurn: the lock taken (1); RefuseWhileWritersHold (5); RemoveStaleTemporaries (7)
//     │ LoadForWriting: the file's bytes through the locked handle
//     ▼
//   LOADED    RecordsBefore: the records the user saw, or refused (2)
//     │ AskChange: in the editing process (quorlin-editor, confined, handed the locked file
//     │ read-only), the table checked, the change planned with its cascades and checked (3),
//     │ every table it reaches rebuilt, built on the bytes loaded (2); WithPages: the new file
//     │ as the loaded bytes with the pages changed; Meant: what each table must read back as
//     ▼
//   PLANNED   ── a refusal up to here: the file byte for byte as it was (3, 8)
//     │                                                                   step "built"
//     ▼
//   BUILT
//     │ WriteChange → ReplaceExpecting: "temporary", "synced", "checked", "renamed" (4, 5)
//     │               another program wrote meanwhile → KeepTheirs → refused (5)
//     ▼
//   REPLACED
//     │ ReadBackOrPutBack: ReadRecordsIsolated, CheckReadBack (ReadBack.h)   step "verified"
//     │               differs → PutBack, only over our own bytes → failed (6)
//     ▼
//   VERIFIED  the change is made
//
// How the file's pages, rows, maps and indexes are rebuilt is data/format/write's, run by the
// editing process (ConfinedEdit.h); this file sequences, and parses nothing of the file.

#include "data/editing/MdbWriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cassert>
#include <chrono>
#include <deque>
#include <optional>
#include <set>
#include <span>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>

#include "values/FieldName.h"
#include "support/FileDescriptor.h"
#include "support/FileWrite.h"
#include "data/editing/Editor.h"
#include "data/editing/FileHolders.h"
#include "data/editing/ReadBack.h"
#include "data/records/Fingerprint.h"
#include "data/reading/Isolation.h"
#include "data/editing/WriteTurn.h"
#include "data/records/ProviderError.h"
#include "support/Messages.h"

namespace quorlin {

namespace {

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

std::string_view AsChars(std::span<const std::uint8_t> bytes)
{
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// The diagram at the top of this file, kept: each state only from the one before it.
enum class TCommitState : std::uint8_t { Turn, Loaded, Planned, Built, Replaced, Verified };

class TCommitStates {
public:
    void Enter(TCommitState next) noexcept
    {
        assert(static_cast<int>(next) == static_cast<int>(FState) + 1);
        FState = next;
    }

private:
    TCommitState FState = TCommitState::Turn;
};

// ---------------------------------------------------------------------------------------------
// Taking the turn, and the file as it may be written.

// How long a writer waits for its turn (invariant 1).
constexpr auto TurnWait = std::chrono::seconds(10);
// How long a program that opened the file just before the rename may keep it open.
constexpr auto OthersCloseWait = std::chrono::seconds(5);

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
        Refuse(Format(Tr("The database file '%1$s' belongs to another user; replacing it would make it yours, so it "
                         "is not changed here."),
                      path));
    if (!root && !InGroup(st.st_gid))
        Refuse(Format(Tr("The database file '%1$s' belongs to a group you are not in; replacing it would change its "
                         "group, so it is not changed here."),
                      path));
    if (st.st_nlink > 1)
        Refuse(Format(Tr("The database file '%1$s' has more than one name (hard links); replacing it would part "
                         "them, so it is not changed here."),
                      path));
}

// A file may be replaced when it is there, Access does not have it open, and both it and its
// folder may be written. Returns its size.
std::size_t CheckReplaceable(const std::string& path)
{
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) Refuse(Format(Tr("Could not find file '%1$s'."), path));
    if (const auto lock = LockFileOf(path))
        Refuse(Format(Tr("The database '%1$s' is open in another program (its lock file '%2$s' exists); it cannot "
                         "be changed now."),
                      path, *lock));
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || ::access(path.c_str(), W_OK) != 0)
        Refuse(Format(Tr("The database file '%1$s' is read-only."), path));
    CheckOwnership(path, st);
    const std::filesystem::path folder = std::filesystem::absolute(path, ec).parent_path();
    if (::access(folder.c_str(), W_OK) != 0)
        Refuse(Format(Tr("The folder of the database file '%1$s' is read-only, so the file cannot be replaced safely."),
                      path));
    return static_cast<std::size_t>(st.st_size);
}

// A file's contents as pieces one after another, the way they are written and compared.
using TContents = std::vector<std::string_view>;

TContents Whole(std::span<const std::uint8_t> bytes) { return {AsChars(bytes)}; }

[[maybe_unused]] std::size_t SizeOf(const TContents& contents)
{
    std::size_t size = 0;
    for (std::string_view piece : contents) size += piece.size();
    return size;
}

// The two versions of the file a commit knows: as it was loaded under the lock, and with the
// change made, as the editing process built it: the loaded bytes with the pages it changed.
struct TVersions {
    std::vector<std::uint8_t> Loaded;
    TChangedPages Changed;
    TContents After;  // views of Loaded and Changed
    TContents Before() const { return Whole(Loaded); }
};

// The file as it is, read through the writer's own handle (so that it is the very file that is
// locked).
std::vector<std::uint8_t> LoadForWriting(const std::string& path, const TWriteTurn& turn)
{
    const std::size_t size = CheckReplaceable(path);
    std::vector<std::uint8_t> bytes = ReadWhole(turn.File());
    if (bytes.size() != size) Refuse(Format(Tr("The database file '%1$s' cannot be read."), path));
    return bytes;
}

// The file, open, for a question that changes nothing.
TFd OpenForAsking(const std::string& path)
{
    CheckReplaceable(path);
    TFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat st {};
    if (fd.Get() < 0 || ::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode))
        Refuse(Format(Tr("The database file '%1$s' cannot be read."), path));
    return fd;
}

// ---------------------------------------------------------------------------------------------
// The table as read through a fresh reading process, as every other part of the program reads it.

// Invariant 2.
void CheckUnchangedSince(const TTableData* readEarlier, const TTableData& now, const std::string& table)
{
    if (readEarlier && !SameTable(*readEarlier, now))
        Refuse(Format(Tr("The table '%1$s' was changed by another program since it was read; refresh it and make the "
                         "change again."),
                      table));
}

// Whether the records are what reading the table from the loaded bytes (which hash to loaded)
// would give: the reading process vouched that it read them, as this table, from bytes that hash
// alike.
bool ReadFromLoaded(const TTableData& records, std::uint64_t loaded, const std::string& table)
{
    return records.Fingerprint && *records.Fingerprint == TableFingerprint(loaded, table);
}

// The records the change is made on (invariant 2): those read earlier when they were read from
// the very bytes loaded, else the table read afresh into readNow and, when the change depends
// on them, checked against them.
const TTableData& RecordsBefore(const std::string& path, std::uint64_t loaded, const std::string& table,
                                const TTableData* readEarlier,
                                TEarlierRecords use, std::optional<TTableData>& readNow)
{
    if (readEarlier && ReadFromLoaded(*readEarlier, loaded, table)) return *readEarlier;
    readNow = ReadRecordsIsolated(path, table, false);
    if (use == TEarlierRecords::MustHold) CheckUnchangedSince(readEarlier, *readNow, table);
    return *readNow;
}

// ---------------------------------------------------------------------------------------------
// What the editing process built, as the read-back checks it.

// Whether what the editing process says of a table can be checked at all: every record it names
// is one of the table's, every field one of its definition's. A process a crafted file took over
// could say anything; what cannot be checked is told as damage.
bool Checkable(const TMeant& meant)
{
    const auto records = static_cast<std::size_t>(meant.Before->RecordCount);
    if (meant.DefColumn.size() != meant.Before->Columns.size()) return false;
    const auto fits = [&](const TMeantValues& values) {
        return std::all_of(meant.DefColumn.begin(), meant.DefColumn.end(), [&](std::size_t c) { return c < values.size(); });
    };
    if (!meant.Changes.Deletes.empty() && *meant.Changes.Deletes.rbegin() >= records) return false;
    for (const auto& [record, values] : meant.Changes.Updates)
        if (record >= records || meant.Changes.Deletes.count(record) || !fits(values)) return false;
    return std::all_of(meant.Changes.Inserts.begin(), meant.Changes.Inserts.end(), fits);
}

// What each rebuilt table is meant to read back as, with the records it read before: the
// changed table's are before, the others' came with the change.
std::vector<TMeant> Meant(const std::string& path, TBuiltChange& built, const TTableData& before)
{
    std::vector<TMeant> meant;
    for (TRebuiltTable& t : built.Tables) {
        const bool changed = meant.empty();
        if (changed == t.Before.has_value()) Refuse(DamagedForEditingText(path));
        meant.push_back({t.Name, std::move(t.Changes), changed ? &before : &*t.Before, std::move(t.DefColumn)});
        if (!Checkable(meant.back())) Refuse(DamagedForEditingText(path));
    }
    if (meant.empty()) Refuse(DamagedForEditingText(path));
    return meant;
}

// ---------------------------------------------------------------------------------------------
// Writing, reading back, putting back.

// Raised when the file at the path is no longer what this writer expects there.
class EChangedMeanwhile : public EProviderError {
public:
    using EProviderError::EProviderError;
};

// more: what became of the file, a sentence of its own.
[[noreturn]] void ChangedMeanwhile(const std::string& path, const std::string& more)
{
    std::string text = Format(Tr("The database '%1$s' was changed by another program meanwhile; refresh and try again."), path);
    if (!more.empty()) text += " " + more;
    throw EChangedMeanwhile(text);
}

// How a replacement meets another program holding the file at the path for writing.
enum class TOthersWriting : std::uint8_t {
    Refuse,  // a change: nothing has been written yet, so it is refused
    Wait,    // putting a file back: it must go in, so it waits for them to close it
};

// Replaces the file at the path, which must hold expected and be open in no other program for
// writing right before the rename, with bytes, holding the new file before it takes the name
// (invariants 1, 4 and 5). Returns the file replaced, kept open so that a write another program
// makes into it afterwards is seen.
TFd ReplaceExpecting(const std::string& path, const TContents& bytes, const TContents& expected, TWriteTurn& turn,
                     TOthersWriting others = TOthersWriting::Refuse)
{
    TFd replaced;
    TReplaceOptions options;
    options.Step = StepHook();
    options.Judge = [&](const TTargetFile& target) {
        if (target.Contents.Get() < 0) ChangedMeanwhile(path, "");
        replaced.Reset(::fcntl(target.Contents.Get(), F_DUPFD_CLOEXEC, 0));
    };
    options.BeforeRename = [&](int fd) {
        if (others == TOthersWriting::Wait) AwaitWritersClosing(replaced.Get(), OthersCloseWait);
        RefuseWhileWritersHold(path, replaced.Get());
        if (!FileHolds(replaced.Get(), expected)) ChangedMeanwhile(path, "");
        Step("checked");
        turn.Hold(fd);
    };
    try {
        ReplaceFileContents(path, bytes, options);
    } catch (const EFileWriteError& e) {
        if (e.Error() == EBUSY) ChangedMeanwhile(path, "");
        Refuse(Format(Tr("The database file '%1$s' cannot be written: %2$s"), path, e.what()));
    }
    return replaced;
}

// Whether the file just replaced still holds expected once no other program holds it for
// writing: one that opened it in the instant before the rename writes into it afterwards.
bool StayedAsExpected(int replaced, const TContents& expected)
{
    return AwaitWritersClosing(replaced, OthersCloseWait) && FileHolds(replaced, expected);
}

// Another program wrote into the file just replaced: its version takes the place of the one
// written, which must still be as written (and, should that program write late again, once
// more). Always raises.
[[noreturn]] void KeepTheirs(const std::string& path, int theirs, const TContents& written, TWriteTurn& turn,
                             int depth = 0)
{
    constexpr int MostRounds = 4;
    const std::vector<std::uint8_t> bytes = ReadWhole(theirs);
    const TContents version = Whole(bytes);
    const TFd replaced = ReplaceExpecting(path, version, written, turn, TOthersWriting::Wait);
    if (!StayedAsExpected(replaced.Get(), written) && depth < MostRounds)
        KeepTheirs(path, replaced.Get(), version, turn, depth + 1);
    const std::vector<TFileHolder> holders = WritersHolding(theirs);
    if (!holders.empty()) Refuse(HeldOpenText(path, holders) + " " + Tr("The change was taken back."));
    ChangedMeanwhile(path, Tr("The other program's version was kept."));
}

// Invariant 5: the change goes in only over the file as it was read, and a write into that file
// during the rename is kept instead of the change.
void WriteChange(const std::string& path, const TVersions& image, TWriteTurn& turn)
{
    const TFd old = ReplaceExpecting(path, image.After, image.Before(), turn);
    if (StayedAsExpected(old.Get(), image.Before())) return;
    KeepTheirs(path, old.Get(), image.After, turn);
}

// Invariant 6: the old file is put back only over what this writer wrote.
[[noreturn]] void PutBack(const std::string& path, const TVersions& image, TWriteTurn& turn,
                          const std::string& failure)
{
    TFd written;
    try {
        written = ReplaceExpecting(path, image.Before(), image.After, turn, TOthersWriting::Wait);
    } catch (const EChangedMeanwhile&) {
        ChangedMeanwhile(path, Format(Tr("(%1$s The file was left as the other program made it.)"), failure));
    } catch (const EProviderError& restore) {
        throw EProviderError(Format(Tr("%1$s The previous file could not be put back: %2$s"), failure, restore.what()));
    }
    if (!StayedAsExpected(written.Get(), image.After)) KeepTheirs(path, written.Get(), image.Before(), turn);
    throw EProviderError(Format(Tr("%1$s The file was put back as it was before the change."), failure));
}

// Returns the changed table as read back.
TTableData ReadBackOrPutBack(const std::string& path, const TVersions& image, TWriteTurn& turn,
                             const std::vector<TMeant>& meant)
{
    try {
        std::vector<TTableData> after;
        for (const TMeant& m : meant) {
            after.push_back(ReadRecordsIsolated(path, m.Table, false));
            CheckReadBack(m, after.back());
        }
        Step("verified");
        return std::move(after.front());
    } catch (const std::exception& e) {
        PutBack(path, image, turn, e.what());
    }
}

}  // namespace

void SetWriteStepHook(std::function<void(std::string_view step)> hook) { StepHook() = std::move(hook); }

std::string WriteRefusal(const std::string& path, const std::string& table)
{
    try {
        return AskRefusal(path, table, OpenForAsking(path).Get());
    } catch (const EProviderError& e) {
        return e.what();
    }
}

std::vector<std::string> IndexDescriptions(const std::string& path, const std::string& table)
{
    return AskIndexes(path, table, OpenForAsking(path).Get());
}

std::vector<std::string> DeleteEffects(const std::string& path, const std::string& table, std::int32_t record)
{
    try {
        return AskEffects(path, table, record, OpenForAsking(path).Get());
    } catch (const std::exception&) {
        return {};
    }
}

TTableData ApplyRecordChange(const std::string& path, const std::string& table, const TRecordChange& change,
                             const TTableData* readEarlier, TEarlierRecords use)
{
    TCommitStates states;
    TWriteTurn turn(path, TurnWait);
    RefuseWhileWritersHold(path, turn.File());
    RemoveStaleTemporaries(path);
    TVersions image{LoadForWriting(path, turn), {}, {}};
    const std::uint64_t loaded = FileHash(image.Loaded);
    states.Enter(TCommitState::Loaded);
    std::optional<TTableData> readNow;
    const TTableData& before = [&]() -> const TTableData& {
        try {
            return RecordsBefore(path, loaded, table, readEarlier, use, readNow);
        } catch (const EProviderError&) {
            // A view or a table that is not there: why it cannot be changed says more than why
            // it cannot be read.
            if (std::string why = AskRefusal(path, table, turn.File()); !why.empty()) Refuse(why);
            throw;
        }
    }();

    // Everything that parses the file runs in the editing process, on the very file locked;
    // nothing is written before it has planned, checked and built the change (invariant 3), on
    // the bytes loaded (invariant 2).
    TBuiltChange built = AskChange(path, table, change, before, turn.File());
    if (built.BuiltOn != loaded) ChangedMeanwhile(path, "");
    image.Changed = std::move(built.Changed);
    try {
        image.After = WithPages(image.Loaded, image.Changed);
    } catch (const EWireError&) {
        Refuse(DamagedForEditingText(path));
    }
    const std::vector<TMeant> meant = Meant(path, built, before);
    states.Enter(TCommitState::Planned);
    Step("built");
    states.Enter(TCommitState::Built);
    // Invariant 4: a file of whole pages, as the one loaded; a page is at least 2 KiB.
    assert(SizeOf(image.After) % 2048 == 0 && image.Loaded.size() % 2048 == 0);

    WriteChange(path, image, turn);
    states.Enter(TCommitState::Replaced);
    TTableData after = ReadBackOrPutBack(path, image, turn, meant);
    states.Enter(TCommitState::Verified);
    return after;
}

}  // namespace quorlin
