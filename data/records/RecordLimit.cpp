#include "data/records/RecordLimit.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "support/Messages.h"

namespace quorlin {

namespace {

constexpr std::uint64_t KiB = 1024, MiB = KiB * 1024, GiB = MiB * 1024;

// "512M", "2G", "1000000": 0 when the text is none of these.
std::uint64_t ParseBytes(std::string_view text)
{
    std::uint64_t value = 0;
    std::size_t i = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        if (value > (UINT64_MAX - 9) / 10) return 0;
        value = value * 10 + static_cast<std::uint64_t>(text[i] - '0');
    }
    if (i == 0) return 0;
    const std::string_view unit = text.substr(i);
    const std::uint64_t scale = unit.empty() ? 1 : unit == "K" || unit == "k" ? KiB : unit == "M" || unit == "m" ? MiB
                                                   : unit == "G" || unit == "g" ? GiB : 0;
    if (scale == 0 || value > UINT64_MAX / scale) return 0;
    return value * scale;
}

// The records may take half of what this process can have: the rest is for the program itself,
// and for the old storage of a column while it moves to a larger one.
std::uint64_t DefaultLimit()
{
    std::uint64_t limit = 2 * GiB;
    const long pages = ::sysconf(_SC_PHYS_PAGES), pageSize = ::sysconf(_SC_PAGESIZE);
    if (pages > 0 && pageSize > 0)
        limit = std::min(limit, static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize) / 2);
    rlimit space{};
    if (::getrlimit(RLIMIT_AS, &space) == 0 && space.rlim_cur != RLIM_INFINITY)
        limit = std::min<std::uint64_t>(limit, space.rlim_cur / 2);
    return limit;
}

}  // namespace

std::uint64_t RecordMemoryLimit()
{
    if (const char* text = std::getenv("QUORLIN_RECORD_MEMORY"))
        if (const std::uint64_t bytes = ParseBytes(text)) return bytes;
    return DefaultLimit();
}

std::string MemoryText(std::uint64_t bytes)
{
    static constexpr std::pair<std::uint64_t, const char*> units[] = {{GiB, "GiB"}, {MiB, "MiB"}, {KiB, "KiB"}};
    for (const auto& [size, name] : units) {
        if (bytes < size) continue;
        char text[32];
        const double amount = static_cast<double>(bytes) / static_cast<double>(size);
        if (bytes % size == 0)
            std::snprintf(text, sizeof text, "%llu %s", static_cast<unsigned long long>(bytes / size), name);
        else
            std::snprintf(text, sizeof text, "%.1f %s", amount, name);
        return text;
    }
    return std::to_string(bytes) + " bytes";
}

TRecordBudget::TRecordBudget(TTableData& table, std::uint64_t limit, std::int32_t expectedRecords)
    : FTable(table), FLimit(limit), FHint(static_cast<std::size_t>(std::max(expectedRecords, 0)))
{
    // Every column keeps a kind and a number per record, and a text too once it has had one.
    for (const auto& c : FTable.Columns)
        FPerRecord += sizeof(TCellKind) + sizeof(double) + (c.Texts.capacity() > 0 ? sizeof(std::string) : 0);
}

std::string TooLargeToOpen(bool view, const std::string& name, const std::string& why)
{
    return Format(view ? Tr("The view '%1$s' is too large to open: %2$s") : Tr("The table '%1$s' is too large to open: %2$s"),
                  name, why);
}

std::uint64_t TRecordBudget::Held() const noexcept { return FStorage + FTextBytes; }

void TRecordBudget::TooLarge() const
{
    throw ERecordsTooLarge(Format(Tr("its records take more than the %1$s of memory one table or view may take "
                                     "(QUORLIN_RECORD_MEMORY sets the limit); it was reached at record %2$s"),
                                  MemoryText(FLimit), FTable.RecordCount + 1));
}

// The columns grow by doubling, as far as the limit allows and no further: a table just under
// the limit still fits whole. A table whose size is known is given its room at once.
void TRecordBudget::MakeRoom()
{
    const auto records = static_cast<std::size_t>(FTable.RecordCount);
    if (records < FRoom) return;
    constexpr std::size_t first = 64;
    const std::uint64_t perRecord = std::max<std::uint64_t>(FPerRecord, 1);
    const std::uint64_t fit = FTextBytes >= FLimit ? 0 : (FLimit - FTextBytes) / perRecord;
    const std::uint64_t wanted = std::max<std::uint64_t>({std::uint64_t{FCapacity} * 2, first, FHint});
    const auto capacity = static_cast<std::size_t>(std::min(wanted, fit));
    if (capacity <= records) TooLarge();
    for (auto& c : FTable.Columns) {
        c.Kinds.reserve(capacity);
        c.Numbers.reserve(capacity);
        if (c.Texts.capacity() > 0) c.Texts.reserve(capacity);
    }
    FCapacity = FRoom = capacity;
    FStorage = capacity * perRecord;
}

// A column's texts may begin late, when the others' storage already takes most of the limit:
// they get what room is left, and the next growth evens the columns out again.
void TRecordBudget::StartTexts(TColumnData& column)
{
    if (column.Texts.capacity() > 0) return;
    const auto records = static_cast<std::size_t>(FTable.RecordCount);
    const std::uint64_t room = Held() >= FLimit ? 0 : (FLimit - Held()) / sizeof(std::string);
    const auto capacity = static_cast<std::size_t>(std::min<std::uint64_t>(FCapacity, room));
    if (capacity <= records) TooLarge();
    column.Texts.reserve(capacity);
    FStorage += capacity * sizeof(std::string);
    FPerRecord += sizeof(std::string);
    FRoom = std::min(FRoom, capacity);
}

void TRecordBudget::TakeText(std::size_t bytes)
{
    // A short text lives inside its string; a longer one takes its bytes and an end mark more.
    constexpr std::size_t inside = 15;
    const std::uint64_t more = bytes > inside ? std::uint64_t{bytes} + 1 : 0;
    if (Held() + more > FLimit) TooLarge();
    FTextBytes += more;
}

}  // namespace quorlin
