// quorlin-editor: the part of one change that parses the database, confined. The program starts
// it for every change (and to ask whether a table may be changed at all), hands it the request
// on its standard input and the database it holds locked, open for reading only, and takes back
// the pages the change made differ (EditWire.h). Whatever a damaged or
// hostile file does to the format's writer ends with this process; the program keeps the lock,
// the comparisons, the rename and the read-back.

#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <climits>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "data/editing/ConfinedEdit.h"
#include "data/editing/EditWire.h"
#include "data/reading/Confinement.h"
#include "data/reading/ReaderLanguage.h"
#include "support/FileDescriptor.h"
#include "support/Messages.h"

namespace {

using namespace quorlin;

// A change walks the records of its table several times, each walk into storage of its own. A
// process that lives for one change gets all its storage fresh, and touching fresh storage is
// what costs: the allocator keeps what is given back for the next walk instead of returning it
// to the system, and never hands out storage of its own mapping.
void KeepStorage()
{
    constexpr int MostMmapThreshold = 32 << 20;  // the allocator takes no larger
    ::mallopt(M_MMAP_THRESHOLD, MostMmapThreshold);
    ::mallopt(M_TRIM_THRESHOLD, INT_MAX);
}

// What a process a crafted file took over would do to the database it was handed: write into it,
// cut it short, map it to write. Each must fail; the process then goes on as usual.
void TryToWrite(int database)
{
    constexpr char Mark[] = "taken over";
    (void)!::pwrite(database, Mark, sizeof Mark, 0);
    (void)!::ftruncate(database, 0);
    void* page = ::mmap(nullptr, sizeof Mark, PROT_READ | PROT_WRITE, MAP_SHARED, database, 0);
    if (page != MAP_FAILED) std::memcpy(page, Mark, sizeof Mark);
}

// Tests make the editing process die of a fault, or turn on the database, confined, as one whose
// parser a crafted file broke or took over would.
void FaultIfAsked()
{
    const char* fault = std::getenv("QUORLIN_EDITOR_FAULT");
    if (fault && std::strcmp(fault, "crash") == 0) __builtin_trap();
    if (fault && std::strcmp(fault, "write") == 0) TryToWrite(EditorDatabaseFd);
}

// The answer is worked out whole before the start mark goes, so that a refusal met on the way
// is told as the failure it is.
void Serve(const TEditRequest& request, TWireWriter& w)
{
    const auto start = [&] { w.U8(static_cast<std::uint8_t>(TWireMark::Start)); };
    switch (request.Ask) {
    case TEditAsk::Refusal: {
        const std::string why = EditRefusal(request, EditorDatabaseFd);
        start();
        w.Str(why);
        break;
    }
    case TEditAsk::Effects: {
        const std::vector<std::string> effects = EditEffects(request, EditorDatabaseFd);
        start();
        WriteTexts(w, effects);
        break;
    }
    case TEditAsk::Indexes: {
        const std::vector<std::string> indexes = EditIndexes(request, EditorDatabaseFd);
        start();
        WriteTexts(w, indexes);
        break;
    }
    case TEditAsk::Change: {
        const TBuiltChange built = BuildChange(request, EditorDatabaseFd);
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
    KeepStorage();
    SpeakAsTheProgramDoes("The database file '%1$s' is damaged; it cannot be changed.");
    bool written = true;
    TWireWriter w([&](const char* p, std::size_t n) { written = WriteWhole(STDOUT_FILENO, p, n) && written; });
    try {
        TWireReader r([](char* p, std::size_t n) { return ReadSome(STDIN_FILENO, p, n); });
        const TEditRequest request = ReadEditRequest(r);
        // The request is read and the database open: from here on no file may be opened at all.
        Confine(-1);
        FaultIfAsked();
        Serve(request, w);
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
