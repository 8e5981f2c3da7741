// quorlin-reader: reads one thing from an Access file and streams it to its standard output,
// confined first (Confinement.h). The program starts it for every read, so that whatever a
// damaged or hostile file does to the reader ends with this process.
//
//   quorlin-reader catalog FILE         the file's tables, system tables and views
//   quorlin-reader table FILE NAME      a table's columns and records
//   quorlin-reader view FILE NAME       a view's columns and records
//   quorlin-reader probe WHAT FILE      (tests) confined, tries WHAT: write, socket or exec,
//                                       and prints whether it was denied; crash: dies of a
//                                       fault, as a reader that missed some damage would;
//                                       flood, endless, babble: stream without end, as a reader
//                                       caught in a loop would (marks, records, a mark a second)

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>
#include <string>
#include <vector>

#include "data/reading/ReaderLanguage.h"
#include "data/reading/Wire.h"
#include "data/views/ViewEngine.h"
#include "data/reading/Confinement.h"
#include "data/reading/MdbAccess.h"
#include "support/FileDescriptor.h"
#include "support/Messages.h"

extern char** environ;

namespace {

using namespace quorlin;

// What one request writes: the start mark once the file is open, then what was asked for; fd is
// the file, opened before confinement. A file that cannot be opened as a database is told
// before the start mark, as every request's failure is, so that its reason reaches the user
// whatever was asked.
void Serve(const std::vector<std::string>& args, int fd, TWireWriter& w)
{
    const auto heartbeat = [&w] {
        if (w.Empty()) w.U8(static_cast<std::uint8_t>(TWireMark::Progress));
        w.Flush();
    };
    const std::string& what = args.at(0);
    const bool named = args.size() == 3;
    if (what != "catalog" && !((what == "table" || what == "view") && named)) throw std::invalid_argument("unknown request");
    TMdbFile file(args[1], fd, what == "table");
    w.U8(static_cast<std::uint8_t>(TWireMark::Start));
    if (what == "catalog") return WriteCatalog(w, file.Catalog());
    if (what == "table") return StreamTableRecords(file, args[2], w, heartbeat);
    StreamViewRecords(file, args[2], w, heartbeat);
}

// Each forbidden act, tried once the process is confined; true when it was refused.
bool Refused(const std::string& act, const std::string& path)
{
    if (act == "write") {
        const int fd = ::open((path + ".written").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        if (fd >= 0) ::close(fd);
        const int same = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
        if (same >= 0) ::close(same);
        return fd < 0 && same < 0;
    }
    if (act == "socket") {
        const int s = ::socket(AF_INET, SOCK_STREAM, 0);
        if (s >= 0) ::close(s);
        return s < 0;
    }
    if (act == "crash") ::raise(SIGSEGV);
    if (act == "exec") {
        char* argv[] = {const_cast<char*>("/bin/true"), nullptr};
        ::execve("/bin/true", argv, environ);
        return true;  // still here: the program did not start
    }
    return false;
}

// The file is opened before the process is confined, and only through this handle is it read:
// a writer may rename another file over the path meanwhile, which the confinement would not let
// the reader open.
int OpenDatabase(const std::string& path) { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC); }

int Probe(const std::string& act, const std::string& path)
{
    const TConfinement c = Confine(OpenDatabase(path));
    const bool refused = Refused(act, path);
    std::printf("%s %s (no new privileges %d, files %d, calls %d)\n", act.c_str(), refused ? "denied" : "allowed",
                c.NoNewPrivileges, c.FileAccess, c.SystemCalls);
    return refused ? 0 : 1;
}

// A reader that never ends its stream: the program must stop it however busy it keeps the pipe.
// Each stops only when the program no longer reads.
int StreamWithoutEnd(const std::string& act, const std::string& path)
{
    bool written = true;
    TWireWriter w([&](const char* p, std::size_t n) { written = WriteWhole(STDOUT_FILENO, p, n) && written; });
    // Confinement leaves no call to sleep with; the slow one need not be confined to be slow.
    if (act != "babble") Confine(OpenDatabase(path));
    w.U8(static_cast<std::uint8_t>(TWireMark::Start));
    if (act == "endless") WriteColumns(w, {TColumnInfo{"x", TColumnType::Double, 8, 0, 0, false}}, 0);
    for (double x = 0; written; ++x) {
        if (act == "endless") {
            w.U8(static_cast<std::uint8_t>(TWireMark::Record));
            WriteCell(w, TCellKind::Number, x, {});
        } else {
            w.U8(static_cast<std::uint8_t>(TWireMark::Progress));
        }
        if (act == "babble") {
            w.Flush();
            const timespec pause{0, 200'000'000};
            ::nanosleep(&pause, nullptr);
        }
    }
    return 3;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 3 && args[0] == "probe" && (args[1] == "flood" || args[1] == "endless" || args[1] == "babble"))
        return StreamWithoutEnd(args[1], args[2]);
    if (args.size() == 3 && args[0] == "probe") return Probe(args[1], args[2]);
    if (args.size() < 2) {
        std::fprintf(stderr, "quorlin-reader: this program is started by Quorlin for each read of a file\n");
        return 2;
    }
    // The damage found later is told in the program's language.
    SpeakAsTheProgramDoes(DamagedTableText);
    bool written = true;
    TWireWriter w([&](const char* p, std::size_t n) { written = WriteWhole(STDOUT_FILENO, p, n) && written; });
    try {
        const int fd = OpenDatabase(args[1]);
        if (fd < 0) throw std::runtime_error(Format(Tr("Cannot open the database file '%1$s'"), args[1]));
        Confine(fd);
        Serve(args, fd, w);
    } catch (const std::bad_alloc&) {
        w.U8(static_cast<std::uint8_t>(TWireMark::Failure));
        w.Str(Format(Tr("Reading '%1$s' needs more memory than the reading process may take"), args[1]));
    } catch (const std::exception& e) {
        w.U8(static_cast<std::uint8_t>(TWireMark::Failure));
        w.Str(e.what());
    }
    w.Flush();
    return written ? 0 : 3;
}
