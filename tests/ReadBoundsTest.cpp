// What a reading process may make this program hold: records only up to their memory limit,
// checked before the memory is taken whatever the stream claims, and a stream that never ends
// stopped as a silent one is. The streams here are made by hand, as a reader gone wrong (or
// taken over) would send them.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstring>

#include "tests/ScopedEnvironment.h"
#include "tests/TestFiles.h"
#include "data/reading/Isolation.h"
#include "data/records/RecordLimit.h"
#include "data/reading/Wire.h"

using namespace quorlin;
using namespace quorlin::testing;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

// Bytes as a reading process would send them, and read back as the program reads them.
class TStream {
public:
    TStream() : FWriter([this](const char* p, std::size_t n) { FBytes.append(p, n); }) {}
    TWireWriter& W() { return FWriter; }
    void Columns(std::vector<TColumnType> types, std::int32_t expectedRecords = 0)
    {
        std::vector<TColumnInfo> columns;
        for (std::size_t i = 0; i < types.size(); ++i) columns.push_back({"c" + std::to_string(i), types[i], 8, 0, 0, false});
        WriteColumns(FWriter, columns, expectedRecords);
    }
    void Record(const std::vector<TCellValue>& cells)
    {
        FWriter.U8(static_cast<std::uint8_t>(TWireMark::Record));
        for (const auto& c : cells) WriteCell(FWriter, c.Kind, c.Number, c.Text);
    }
    void End() { FWriter.U8(static_cast<std::uint8_t>(TWireMark::End)); }
    TTableData Read(std::uint64_t limit)
    {
        FWriter.Flush();
        std::size_t at = 0;
        TWireReader r([&](char* p, std::size_t n) {
            const std::size_t k = std::min(n, FBytes.size() - at);
            std::memcpy(p, FBytes.data() + at, k);
            at += k;
            return k;
        });
        return ReadTableStream(r, limit);
    }

private:
    std::string FBytes;
    TWireWriter FWriter;
};

TCellValue Number(double v) { return {TCellKind::Number, v, ""}; }
TCellValue Text(std::string s) { return {TCellKind::Text, 0.0, std::move(s)}; }

std::string RefusalOf(TStream& stream, std::uint64_t limit)
{
    try {
        stream.Read(limit);
    } catch (const ERecordsTooLarge& e) {
        return e.what();
    }
    return "read whole";
}

bool NoChildLeft()
{
    int status = 0;
    return ::waitpid(-1, &status, WNOHANG) < 0 && errno == ECHILD;
}

}  // namespace

// A table of numbers takes nine bytes a cell: a thousand records of three numbers fit in
// 27,000 bytes exactly, and one byte less refuses the last record, naming it and the limit.
TEST(RecordStream, NumbersFitExactlyUpToTheLimitAndNoFurther)
{
    TStream stream;
    stream.Columns({TColumnType::Double, TColumnType::Double, TColumnType::Long});
    for (int i = 0; i < 1000; ++i) stream.Record({Number(i), Number(i / 2.0), Number(-i)});
    stream.End();
    const TTableData all = stream.Read(27000);
    ASSERT_EQ(all.RecordCount, 1000);
    EXPECT_EQ(all.Columns[1].Numbers[999], 499.5);
    EXPECT_EQ(all.Columns[2].Numbers[7], -7.0);
    const std::string refusal = RefusalOf(stream, 26999);
    EXPECT_THAT(refusal, HasSubstr("more than the 26.4 KiB of memory one table or view may take"));
    EXPECT_THAT(refusal, HasSubstr("QUORLIN_RECORD_MEMORY"));
    EXPECT_THAT(refusal, HasSubstr("reached at record 1000"));
}

// Texts count their strings and their bytes; a text that begins in a late record, and a column
// of long texts, are refused where the limit is reached, not after.
TEST(RecordStream, TextsCountWhereTheyBegin)
{
    const std::string note(100, 'n');  // 101 bytes beside its string
    TStream stream;
    stream.Columns({TColumnType::Double, TColumnType::Memo});
    for (int i = 0; i < 50; ++i) stream.Record({Number(i), i < 40 ? TCellValue{} : Text(note)});
    stream.End();
    const TTableData all = stream.Read(1 << 20);
    ASSERT_EQ(all.RecordCount, 50);
    EXPECT_EQ(all.Columns[1].Texts[45], note);
    EXPECT_EQ(all.Columns[1].Kinds[10], TCellKind::Null);
    // 64 records' room for the numbers and kinds (1,152 bytes) and the ten notes' bytes.
    EXPECT_EQ(RefusalOf(stream, 64 * 18 + 64 * 32 + 10 * 101), "read whole");
    EXPECT_THAT(RefusalOf(stream, 64 * 18 + 64 * 32 + 10 * 101 - 1), HasSubstr("reached at record 50"));
    EXPECT_THAT(RefusalOf(stream, 64 * 18 + 64 * 32), HasSubstr("reached at record 41"));
}

// What a stream claims costs nothing ahead: a count of two thousand million records of 4,096
// columns, or a text of a gigabyte, is taken only as far as the limit allows. Reserving either
// as claimed would take terabytes or a gigabyte before a byte of it arrived.
TEST(RecordStream, ClaimsOfTheStreamTakeNoMemoryAhead)
{
    TStream wide;
    wide.Columns(std::vector<TColumnType>(4096, TColumnType::Double), INT32_MAX - 1);
    wide.Record(std::vector<TCellValue>(4096, Number(1.5)));
    wide.End();
    const TTableData one = wide.Read(1 << 20);
    EXPECT_EQ(one.RecordCount, 1);
    EXPECT_EQ(one.Columns[4095].Numbers.at(0), 1.5);

    TStream huge;
    huge.Columns({TColumnType::Memo});
    huge.W().U8(static_cast<std::uint8_t>(TWireMark::Record));
    huge.W().U8(static_cast<std::uint8_t>(TCellKind::Text));
    huge.W().I32(1 << 30);  // and then the stream ends
    EXPECT_THAT(RefusalOf(huge, 1 << 20), HasSubstr("reached at record 1"));
}

// A view's computed column turns out textual only after its last record: its numbers then
// become their text. The mark comes after the records only, and names a column that exists.
TEST(RecordStream, RetypedColumnsBecomeTextAfterTheirRecords)
{
    TStream stream;
    stream.Columns({TColumnType::Double, TColumnType::Double});
    stream.Record({Number(1.5), Number(3)});
    stream.Record({TCellValue{}, Number(4)});
    stream.Record({Text("many"), Number(5)});
    WriteRetyped(stream.W(), {0});
    stream.End();
    const TTableData t = stream.Read(1 << 20);
    EXPECT_EQ(t.Columns[0].Info.Type, TColumnType::Text);
    EXPECT_EQ(t.Columns[0].Kinds, (std::vector<TCellKind>{TCellKind::Text, TCellKind::Null, TCellKind::Text}));
    EXPECT_EQ(t.Columns[0].Texts, (std::vector<std::string>{"1.5", "", "many"}));
    EXPECT_EQ(t.Columns[1].Info.Type, TColumnType::Double);
    EXPECT_EQ(t.Columns[1].Numbers, (std::vector<double>{3, 4, 5}));

    TStream outside;
    outside.Columns({TColumnType::Double});
    outside.Record({Number(1)});
    WriteRetyped(outside.W(), {1});
    outside.End();
    EXPECT_THROW(outside.Read(1 << 20), EWireError);

    TStream early;
    early.Columns({TColumnType::Double});
    WriteRetyped(early.W(), {0});
    early.Record({Number(1)});
    early.End();
    EXPECT_THROW(early.Read(1 << 20), EWireError);
}

// A reading process that streams without end, however it does it, is stopped with the reason
// and leaves no process behind: records without end at the records' limit, marks without end
// at the bytes a read may send, a mark a second at the time a read may take.
TEST(ReadingProcess, AStreamWithoutEndIsStoppedWithTheReason)
{
    TempFolder folder;
    const std::string any = (folder / "any.mdb").string();
    WriteBytes(any, "not read");
    const std::string damaged = "The view 'V' cannot be read: the database file is damaged";
    const std::string tooLarge = "The view 'V' is too large to open: ";
    const auto stopped = [&](const std::string& act) {
        try {
            RunReader({"probe", act, any}, [](TWireReader& r) { ReadTableStream(r); }, damaged,
                      [](const std::string& why) { return TooLargeToOpen(true, "V", why); });
        } catch (const EProviderError& e) {
            return std::string(e.what());
        }
        return std::string("not stopped");
    };
    {
        const TScopedEnvironment memory("QUORLIN_RECORD_MEMORY", "1M");
        EXPECT_THAT(stopped("endless"), HasSubstr(tooLarge + "its records take more than the 1 MiB of memory"));
        EXPECT_EQ(stopped("flood"), tooLarge + "the reading process sent more than 3 MiB, more than its records may take");
    }
    EXPECT_TRUE(NoChildLeft());
    {
        const TScopedEnvironment silence("QUORLIN_READ_TIMEOUT", "1");
        const std::string babble = stopped("babble");
        EXPECT_EQ(babble, tooLarge + "reading it took longer than 10 seconds, the most one read may take (ten times "
                                     "QUORLIN_READ_TIMEOUT)");
        EXPECT_THAT(babble, Not(HasSubstr("damaged")));
    }
    EXPECT_TRUE(NoChildLeft());
}

TEST(RecordLimit, TheLimitIsReadFromTheEnvironmentInBytesOrWithAUnit)
{
    {
        const TScopedEnvironment e("QUORLIN_RECORD_MEMORY", "512M");
        EXPECT_EQ(RecordMemoryLimit(), std::uint64_t{512} << 20);
    }
    {
        const TScopedEnvironment e("QUORLIN_RECORD_MEMORY", "3G");
        EXPECT_EQ(RecordMemoryLimit(), std::uint64_t{3} << 30);
    }
    {
        const TScopedEnvironment e("QUORLIN_RECORD_MEMORY", "123456");
        EXPECT_EQ(RecordMemoryLimit(), 123456u);
    }
    const std::uint64_t standard = RecordMemoryLimit();
    EXPECT_LE(standard, std::uint64_t{2} << 30);
    for (const char* nonsense : {"", "-5", "12X", "0", "99999999999999999999999G", "M"}) {
        const TScopedEnvironment e("QUORLIN_RECORD_MEMORY", nonsense);
        EXPECT_EQ(RecordMemoryLimit(), standard) << nonsense;
    }
    EXPECT_EQ(MemoryText(std::uint64_t{2} << 30), "2 GiB");
    EXPECT_EQ(MemoryText(1536), "1.5 KiB");
    EXPECT_EQ(MemoryText(300), "300 bytes");
}
