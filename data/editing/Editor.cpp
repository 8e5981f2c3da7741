#include "data/editing/Editor.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include "data/reading/Isolation.h"
#include "data/records/ProviderError.h"
#include "support/FileDescriptor.h"
#include "support/Messages.h"

namespace quorlin {

namespace {

std::string EditorProgram() { return ProgramBeside("quorlin-editor", QUORLIN_EDITOR_BUILD_PATH); }

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

template <class TConsume>
void AskEditor(const TEditRequest& request, std::span<const std::uint8_t> bytes, TConsume&& consume)
{
    std::string message;
    TWireWriter w([&](const char* p, std::size_t n) { message.append(p, n); });
    WriteEditRequest(w, request);
    w.Flush();
    const TFd input = SealedFile("quorlin-request", message, request.Path);
    const TFd database =
        SealedFile("quorlin-database", {reinterpret_cast<const char*>(bytes.data()), bytes.size()}, request.Path);
    RunConfined({EditorProgram(), {}, input.Get(), database.Get()}, consume, DamagedForEditingText(request.Path));
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

std::string AskRefusal(const std::string& path, const std::string& table, std::span<const std::uint8_t> bytes)
{
    std::string why;
    AskEditor(Request(TEditAsk::Refusal, path, table), bytes, [&](TWireReader& r) { why = r.Str(); });
    return why;
}

std::vector<std::string> AskEffects(const std::string& path, const std::string& table, std::int32_t record,
                                    std::span<const std::uint8_t> bytes)
{
    TEditRequest request = Request(TEditAsk::Effects, path, table);
    request.Change.Kind = TRecordChange::TKind::Delete;
    request.Change.Record = record;
    std::vector<std::string> effects;
    AskEditor(request, bytes, [&](TWireReader& r) { effects = ReadTexts(r); });
    return effects;
}

TBuiltChange AskChange(const std::string& path, const std::string& table, const TRecordChange& change,
                       const TTableData& before, std::span<const std::uint8_t> bytes)
{
    TEditRequest request = Request(TEditAsk::Change, path, table);
    request.Change = change;
    for (const TColumnData& c : before.Columns) request.ReadColumns.push_back(c.Info.Name);
    request.ReadRecords = before.RecordCount;
    TBuiltChange built;
    AskEditor(request, bytes, [&](TWireReader& r) { built = ReadBuiltChange(r); });
    return built;
}

}  // namespace quorlin
