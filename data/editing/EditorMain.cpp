// quorlin-editor: the part of one change that parses the database, confined. The program starts
// it for every change (and to ask whether a table may be changed at all), hands it the request
// on its standard input and the database's bytes as it loaded them under its lock on a sealed
// memory file, and takes back the file with the change made (EditWire.h). Whatever a damaged or
// hostile file does to the format's writer ends with this process; the program keeps the lock,
// the comparisons, the rename and the read-back.

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "data/editing/ConfinedEdit.h"
#include "data/editing/EditWire.h"
#include "data/reading/Confinement.h"
#include "data/reading/ReaderLanguage.h"
#include "support/FileDescriptor.h"
#include "support/Messages.h"

namespace {

using namespace quorlin;

// The whole of a memory file, copied once from its mapping into storage of its size: the
// database may be large, and storage zeroed first and then read into, or grown as it comes,
// touches every page of it more than once.
std::vector<std::uint8_t> ReadAll(int fd)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0 || st.st_size <= 0) return {};
    const auto size = static_cast<std::size_t>(st.st_size);
    void* mapped = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    if (mapped == MAP_FAILED) return {};
    const auto* bytes = static_cast<const std::uint8_t*>(mapped);
    std::vector<std::uint8_t> copy(bytes, bytes + size);
    ::munmap(mapped, size);
    return copy;
}

// Tests make the editing process die of a fault, confined, as one whose parser a crafted file
// broke would.
void FaultIfAsked()
{
    const char* fault = std::getenv("QUORLIN_EDITOR_FAULT");
    if (fault && std::strcmp(fault, "crash") == 0) __builtin_trap();
}

// The answer is worked out whole before the start mark goes, so that a refusal met on the way
// is told as the failure it is.
void Serve(const TEditRequest& request, std::vector<std::uint8_t> bytes, TWireWriter& w)
{
    const auto start = [&] { w.U8(static_cast<std::uint8_t>(TWireMark::Start)); };
    switch (request.Ask) {
    case TEditAsk::Refusal: {
        const std::string why = EditRefusal(request, std::move(bytes));
        start();
        w.Str(why);
        break;
    }
    case TEditAsk::Effects: {
        const std::vector<std::string> effects = EditEffects(request, std::move(bytes));
        start();
        WriteTexts(w, effects);
        break;
    }
    case TEditAsk::Change: {
        const TBuiltChange built = BuildChange(request, std::move(bytes), EditorDatabaseFd);
        start();
        WriteBuiltChange(w, built);
        break;
    }
    }
}

}  // namespace

int main(int argc, char**)
{
    if (argc != 1) {
        std::fprintf(stderr, "quorlin-editor: this program is started by Quorlin for each change of a file\n");
        return 2;
    }
    SpeakAsTheProgramDoes("The database file '%1$s' is damaged; it cannot be changed.");
    bool written = true;
    TWireWriter w([&](const char* p, std::size_t n) { written = WriteWhole(STDOUT_FILENO, p, n) && written; });
    try {
        TWireReader r([](char* p, std::size_t n) { return ReadSome(STDIN_FILENO, p, n); });
        const TEditRequest request = ReadEditRequest(r);
        std::vector<std::uint8_t> bytes = ReadAll(EditorDatabaseFd);
        // Everything is read: from here on no file may be opened at all.
        Confine(-1);
        FaultIfAsked();
        Serve(request, std::move(bytes), w);
    } catch (const std::bad_alloc&) {
        w.U8(static_cast<std::uint8_t>(TWireMark::Failure));
        w.Str(Tr("The change needs more memory than the editing process may take."));
    } catch (const std::exception& e) {
        w.U8(static_cast<std::uint8_t>(TWireMark::Failure));
        w.Str(e.what());
    }
    w.Flush();
    return written ? 0 : 3;
}
