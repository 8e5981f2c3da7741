#include "data/editing/Editor.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "data/reading/Isolation.h"
#include "data/records/ProviderError.h"
#include "support/FileDescriptor.h"
#include "support/Messages.h"

namespace quorlin {

namespace {

std::string EditorProgram() { return ProgramBeside("quorlin-editor", QUORLIN_EDITOR_BUILD_PATH); }

// A change walks every record of its table several times, into storage the process has just been
// given, and fresh storage costs a page fault for every 4 KiB touched. For a large file the C
// library's allocator is asked to take huge pages where the system gives them on request (the
// editing process keeps its storage in the allocator's heap): a few faults instead of thousands.
// For a small one, zeroing a huge page it barely uses costs more than it saves. Settings of the
// allocator the user made stand beside it.
constexpr off_t HugePagesFrom = off_t{4} << 20;

std::vector<std::string> EditorEnvironment(int database)
{
    struct stat st {};
    if (::fstat(database, &st) != 0 || st.st_size < HugePagesFrom) return {};
    constexpr const char* Tunable = "glibc.malloc.hugetlb=1";
    const char* user = std::getenv("GLIBC_TUNABLES");
    return {std::string("GLIBC_TUNABLES=") + (user && *user ? std::string(user) + ":" + Tunable : Tunable)};
}

// A memory file holding bytes, read from its start, and sealed: the editing process cannot change
// what it is handed, nor can anything else once it has it.
TFd SealedFile(const char* name, std::span<const char> bytes, const std::string& path)
{
    TFd fd(::memfd_create(name, MFD_CLOEXEC | MFD_ALLOW_SEALING));
    if (fd.Get() < 0 || !WriteWhole(fd.Get(), bytes.data(), bytes.size()) || ::lseek(fd.Get(), 0, SEEK_SET) != 0 ||
        ::fcntl(fd.Get(), F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL) != 0)
        throw EProviderError(Format(Tr("The database file '%1$s' cannot be changed: %2$s"), path, std::strerror(errno)));
    return fd;
}

// The file open for reading only, whatever database was opened for: the editing process can
// read it and nothing more.
TFd ReadOnly(int database, const std::string& path)
{
    TFd fd(::open(("/proc/self/fd/" + std::to_string(database)).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (fd.Get() < 0)
        throw EProviderError(Format(Tr("The database file '%1$s' cannot be changed: %2$s"), path, std::strerror(errno)));
    return fd;
}

template <class TConsume>
void AskEditor(const TEditRequest& request, int database, TConsume&& consume)
{
    std::string message;
    TWireWriter w([&](const char* p, std::size_t n) { message.append(p, n); });
    WriteEditRequest(w, request);
    w.Flush();
    const TFd input = SealedFile("quorlin-request", message, request.Path);
    const TFd file = ReadOnly(database, request.Path);
    RunConfined({EditorProgram(), {}, input.Get(), file.Get(), EditorEnvironment(file.Get())}, consume,
                DamagedForEditingText(request.Path));
}

TEditRequest Request(TEditAsk ask, const std::string& path, const std::string& table)
{
    TEditRequest request;
    request.Ask = ask;
    request.Path = path;
    request.Table = table;
    return request;
}

}  // namespace

std::string AskRefusal(const std::string& path, const std::string& table, int database)
{
    std::string why;
    AskEditor(Request(TEditAsk::Refusal, path, table), database, [&](TWireReader& r) { why = r.Str(); });
    return why;
}

std::vector<std::string> AskIndexes(const std::string& path, const std::string& table, int database)
{
    std::vector<std::string> indexes;
    AskEditor(Request(TEditAsk::Indexes, path, table), database, [&](TWireReader& r) { indexes = ReadTexts(r); });
    return indexes;
}

std::vector<std::string> AskEffects(const std::string& path, const std::string& table, std::int32_t record,
                                    int database)
{
    TEditRequest request = Request(TEditAsk::Effects, path, table);
    request.Change.Kind = TRecordChange::TKind::Delete;
    request.Change.Record = record;
    std::vector<std::string> effects;
    AskEditor(request, database, [&](TWireReader& r) { effects = ReadTexts(r); });
    return effects;
}

TBuiltChange AskChange(const std::string& path, const std::string& table, const TRecordChange& change,
                       const TTableData& before, int database)
{
    TEditRequest request = Request(TEditAsk::Change, path, table);
    request.Change = change;
    for (const TColumnData& c : before.Columns) request.ReadColumns.push_back(c.Info.Name);
    request.ReadRecords = before.RecordCount;
    TBuiltChange built;
    AskEditor(request, database, [&](TWireReader& r) { built = ReadBuiltChange(r); });
    return built;
}

}  // namespace quorlin
