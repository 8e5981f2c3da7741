// The reading program confines itself before it opens a file: asked (through its test switch)
// to do what reading never needs, it is refused. A file that took over the reader could do no
// more.

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <string>

#include "tests/StatisticsTestSupport.h"

using namespace quorlin::testing;

namespace {

struct TProbe {
    int Status = -1;
    std::string Out;
};

TProbe Probe(const std::string& act, const std::string& file)
{
    const std::string command = std::string(QUORLIN_READER_EXE) + " probe " + act + " '" + file + "' 2>/dev/null";
    TProbe p;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return p;
    char buffer[512];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) p.Out.append(buffer, n);
    const int status = ::pclose(pipe);
    p.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return p;
}

bool Confined(const TProbe& p) { return p.Out.find("files 1, calls 1") != std::string::npos; }

}  // namespace

TEST(ReaderConfinement, WritingSocketsAndProgramsAreRefused)
{
    TempFolder folder;
    const std::string db = WritableCopy(folder);
    const TProbe write = Probe("write", db);
    if (!Confined(write)) GTEST_SKIP() << "this build or kernel does not confine the reader (" << write.Out << ")";
    EXPECT_EQ(write.Status, 0) << write.Out;
    EXPECT_EQ(folder.Entries(), std::vector<std::string>{"r.mdb"}) << "the confined reader created a file";
    EXPECT_EQ(ReadBytes(db), ReadBytes(DataFile("regression.mdb")));

    const TProbe exec = Probe("exec", db);
    EXPECT_EQ(exec.Status, 0) << exec.Out;

    const TProbe socket = Probe("socket", db);
    EXPECT_EQ(socket.Status, 0) << socket.Out;
}
