// The warnings of a reading (TTableData::Warnings) cross from the reading process to the program
// after the records, with the records kept whole; a stream with more of them, or longer ones,
// than a reading process sends is refused like any garbled stream.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/WireStreams.h"

using namespace quorlin;
using namespace quorlin::testing;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

void WriteTwoRecords(TWireWriter& w)
{
    TColumnInfo x;
    x.Name = "x";
    x.Type = TColumnType::Double;
    WriteColumns(w, {x}, 2);
    for (const double v : {1.5, -2.0}) {
        w.U8(static_cast<std::uint8_t>(TWireMark::Record));
        WriteCell(w, TCellKind::Number, v, {});
    }
}

void WriteEnd(TWireWriter& w) { w.U8(static_cast<std::uint8_t>(TWireMark::End)); }

}  // namespace

TEST(WarningStream, TravelsAfterTheRecordsBeforeTheFingerprint)
{
    const TTableData read = ReadStreamed(Streamed([](TWireWriter& w) {
        WriteTwoRecords(w);
        WriteWarning(w, "first");
        WriteWarning(w, "second, 二");
        WriteFingerprint(w, 42);
        WriteEnd(w);
    }));
    EXPECT_THAT(read.Warnings, ElementsAre("first", "second, 二"));
    EXPECT_EQ(read.RecordCount, 2);
    EXPECT_EQ(read.Columns.at(0).Numbers, (std::vector<double>{1.5, -2.0}));
    EXPECT_EQ(read.Fingerprint, std::optional<std::uint64_t>(42));

    const TTableData none = ReadStreamed(Streamed([](TWireWriter& w) {
        WriteTwoRecords(w);
        WriteEnd(w);
    }));
    EXPECT_THAT(none.Warnings, IsEmpty());
}

TEST(WarningStream, MoreOrLongerThanAReadingSendsIsRefused)
{
    const auto withWarnings = [](std::size_t count, std::size_t size) {
        return Streamed([&](TWireWriter& w) {
            WriteTwoRecords(w);
            for (std::size_t i = 0; i < count; ++i) {
                w.U8(static_cast<std::uint8_t>(TWireMark::Warning));
                w.Str(std::string(size, 'w'));
            }
            WriteEnd(w);
        });
    };
    EXPECT_EQ(ReadStreamed(withWarnings(MaxWireWarnings, MaxWireWarningSize)).Warnings.size(), MaxWireWarnings);
    EXPECT_THROW(ReadStreamed(withWarnings(MaxWireWarnings + 1, 1)), EWireError);
    EXPECT_THROW(ReadStreamed(withWarnings(1, MaxWireWarningSize + 1)), EWireError);
    const std::string whole = withWarnings(1, 10);
    EXPECT_THROW(ReadStreamed(whole.substr(0, whole.size() - 4)), EWireError);  // cut inside the warning
}
