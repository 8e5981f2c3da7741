#include "MdbAccess.h"

#include <fcntl.h>
#include <mdbtools.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <unordered_map>

#include "../statistics/DataSet.h"
#include "ProviderError.h"

namespace quorlin {

namespace {

struct THandleCloser {
    void operator()(MdbHandle* h) const noexcept { mdb_close(h); }
};
using THandle = std::unique_ptr<MdbHandle, THandleCloser>;

struct TTableFree {
    void operator()(MdbTableDef* t) const noexcept { mdb_free_tabledef(t); }
};
using TTable = std::unique_ptr<MdbTableDef, TTableFree>;

struct TGFree {
    void operator()(char* p) const noexcept { g_free(p); }
};
using TGString = std::unique_ptr<char, TGFree>;

[[noreturn]] void Damaged(const std::string& path)
{
    throw EProviderError("The database file '" + path + "' is damaged and cannot be read");
}

// The file mapped into memory: libmdb then reads its pages without a system call each.
class TMapping {
public:
    explicit TMapping(const std::string& path)
    {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return;
        struct stat st {};
        if (::fstat(fd, &st) == 0 && st.st_size > 0) {
            void* p = ::mmap(nullptr, static_cast<std::size_t>(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
            if (p != MAP_FAILED) {
                FData = p;
                FSize = static_cast<std::size_t>(st.st_size);
            }
        }
        ::close(fd);
    }
    ~TMapping()
    {
        if (FData) ::munmap(FData, FSize);
    }
    TMapping(const TMapping&) = delete;
    TMapping& operator=(const TMapping&) = delete;
    void* Data() const noexcept { return FData; }
    std::size_t Size() const noexcept { return FSize; }

private:
    void* FData = nullptr;
    std::size_t FSize = 0;
};

THandle OpenFile(const std::string& path, const TMapping& mapping)
{
    THandle mdb(mapping.Data() ? mdb_open_buffer(mapping.Data(), mapping.Size(), MDB_NOFLAGS)
                               : mdb_open(path.c_str(), MDB_NOFLAGS));
    if (!mdb) throw EProviderError("Unrecognized database format '" + path + "'");
    // Access 97 stored text in the code page of the machine that wrote it, recorded in the file.
    if (IS_JET3(mdb) && mdb->f->code_page != 0) {
        const std::string charset = "CP" + std::to_string(mdb->f->code_page);
        ::setenv("MDB_JET3_CHARSET", charset.c_str(), 1);
        mdb_iconv_close(mdb.get());
        mdb_iconv_init(mdb.get());
    }
    if (!mdb_read_catalog(mdb.get(), MDB_ANY)) Damaged(path);
    return mdb;
}

MdbCatalogEntry* FindEntry(MdbHandle* mdb, const std::string& name, int type)
{
    for (guint i = 0; i < mdb->num_catalog; ++i) {
        auto* entry = static_cast<MdbCatalogEntry*>(g_ptr_array_index(mdb->catalog, i));
        if (entry->object_type == type && name == entry->object_name) return entry;
    }
    return nullptr;
}

template <class T>
T Get(const unsigned char* p) noexcept
{
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

double ExactDecimal(std::string_view text)
{
    double v = 0.0;
    if (!TryTextToFloat(text, v)) throw EProviderError("A decimal value cannot be read: '" + std::string(text) + "'");
    return v;
}

// Currency is a count of ten-thousandths; its float is the correctly rounded quotient.
double CurrencyValue(std::int64_t units)
{
    const bool negative = units < 0;
    const std::uint64_t magnitude = negative ? 0 - static_cast<std::uint64_t>(units) : static_cast<std::uint64_t>(units);
    char digits[32];
    auto [end, ec] = std::to_chars(digits, digits + sizeof digits, magnitude / 10000);
    std::string text = (negative ? "-" : "") + std::string(digits, end) + ".";
    const auto fraction = std::to_string(magnitude % 10000);
    text += std::string(4 - fraction.size(), '0') + fraction;
    return ExactDecimal(text);
}

std::string Hex(const unsigned char* p, int n)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string s;
    for (int i = 0; i < n; ++i) {
        s.push_back(digits[p[i] >> 4]);
        s.push_back(digits[p[i] & 15]);
    }
    return s;
}

class TRecordReader {
public:
    TRecordReader(const std::string& path, MdbHandle* mdb, MdbCatalogEntry* entry)
        : FPath(path), FMdb(mdb), FTable(mdb_read_table(entry))
    {
        if (!FTable || !mdb_read_columns(FTable.get())) Damaged(path);
        const unsigned cols = FTable->num_cols;
        FColumns.resize(cols);
        for (unsigned i = 0; i < cols; ++i) {
            const auto* col = static_cast<MdbColumn*>(g_ptr_array_index(FTable->columns, i));
            TColumnInfo& info = FColumns[i];
            info.Name = col->name;
            info.Type = static_cast<TColumnType>(col->col_type);
            info.Size = col->col_size;
            info.Precision = col->col_prec;
            info.Scale = col->col_scale;
            info.AutoNumber = col->is_long_auto != 0;
        }
    }

    const std::vector<TColumnInfo>& Columns() const noexcept { return FColumns; }
    std::int32_t RecordCountHint() const noexcept { return static_cast<std::int32_t>(FTable->num_rows & 0x7FFFFFFF); }

    // Calls onRecord with each record's values, in column order.
    void Read(const std::function<void(const std::vector<TCellValue>&)>& onRecord, const TProgress& progress)
    {
        const unsigned cols = FTable->num_cols;
        if (cols == 0) return;
        std::vector<MdbField> fields(cols);
        std::vector<TCellValue> values(cols);
        const int pageSize = static_cast<int>(FMdb->fmt->pg_size);
        mdb_rewind_table(FTable.get());
        unsigned pages = 0;
        while (mdb_read_next_dpg(FTable.get())) {
            if (++pages % 256 == 0 && progress) progress();
            const int rows = mdb_get_int16(FMdb->pg_buf, FMdb->fmt->row_count_offset);
            for (int r = 0; r < rows && r <= 1000; ++r) {
                int start = 0;
                size_t size = 0;
                if (mdb_find_row(FMdb, r, &start, &size) != 0 || size == 0) continue;
                if (start & 0x4000) continue;  // deleted
                start &= 0x1FFF;
                if (mdb_crack_row(FTable.get(), start, size, fields.data()) < 0) continue;
                for (unsigned i = 0; i < cols; ++i) {
                    const MdbField& f = fields[i];
                    if (f.colnum < 0 || static_cast<unsigned>(f.colnum) >= cols) Damaged(FPath);
                    const auto c = static_cast<unsigned>(f.colnum);
                    Decode(values[c], FColumns[c], static_cast<MdbColumn*>(g_ptr_array_index(FTable->columns, c)), f,
                           pageSize);
                }
                onRecord(values);
            }
        }
    }

private:
    void Decode(TCellValue& v, const TColumnInfo& info, MdbColumn* col, const MdbField& f, int pageSize)
    {
        v.Kind = TCellKind::Number;
        v.Number = 0.0;
        v.Text.clear();
        if (info.Type == TColumnType::Boolean) {
            // The null bit holds a Yes/No value: set means Yes (-1, as Access counts truth).
            v.Number = f.is_null ? 0.0 : -1.0;
            return;
        }
        if (f.is_null) {
            v.Kind = TCellKind::Null;
            return;
        }
        if (f.start < 0 || f.siz < 0 || f.start + f.siz > pageSize) Damaged(FPath);
        const unsigned char* p = FMdb->pg_buf + f.start;
        auto need = [&](int n) {
            if (f.siz < n) Damaged(FPath);
        };
        auto text = [&](char* owned) {
            TGString holder(owned);
            v.Kind = TCellKind::Text;
            v.Text = holder ? holder.get() : "";
        };
        switch (info.Type) {
        case TColumnType::Byte: need(1); v.Number = p[0]; return;
        case TColumnType::Integer: need(2); v.Number = Get<std::int16_t>(p); return;
        case TColumnType::Long: need(4); v.Number = Get<std::int32_t>(p); return;
        case TColumnType::Single: need(4); v.Number = Get<float>(p); return;
        case TColumnType::Double:
        case TColumnType::DateTime: need(8); v.Number = Get<double>(p); return;
        case TColumnType::Currency: need(8); v.Number = CurrencyValue(Get<std::int64_t>(p)); return;
        case TColumnType::Decimal: {
            need(17);
            TGString digits(mdb_numeric_to_string(FMdb, f.start, col->col_scale, col->col_prec));
            v.Number = ExactDecimal(digits ? digits.get() : "");
            return;
        }
        case TColumnType::Text:
        case TColumnType::Memo: text(mdb_col_to_string(FMdb, FMdb->pg_buf, f.start, col->col_type, f.siz)); return;
        case TColumnType::ReplicationId: need(16); text(mdb_uuid_to_string(FMdb->pg_buf, f.start)); return;
        case TColumnType::Binary:
            v.Kind = TCellKind::Text;
            v.Text = Hex(p, f.siz);
            return;
        default:
            v.Kind = TCellKind::Text;
            v.Text = "(" + std::string(ColumnTypeName(info.Type)) + ")";
            return;
        }
    }

    const std::string& FPath;
    MdbHandle* FMdb;
    TTable FTable;
    std::vector<TColumnInfo> FColumns;
};

// Every saved query's definition, by the low 24 bits of its object id (the catalog keeps those
// bits), read from MSysQueries.
std::unordered_map<std::uint32_t, TQueryDefinition> ReadQueryDefinitions(const std::string& path, MdbHandle* mdb)
{
    std::unordered_map<std::uint32_t, TQueryDefinition> queries;
    MdbCatalogEntry* entry = FindEntry(mdb, "MSysQueries", MDB_TABLE);
    if (!entry) return queries;
    TRecordReader reader(path, mdb, entry);
    int id = -1, attribute = -1, flag = -1, name1 = -1, name2 = -1, expression = -1;
    for (std::size_t i = 0; i < reader.Columns().size(); ++i) {
        const std::string& name = reader.Columns()[i].Name;
        const int k = static_cast<int>(i);
        if (SameFieldName(name, "ObjectId")) id = k;
        if (SameFieldName(name, "Attribute")) attribute = k;
        if (SameFieldName(name, "Flag")) flag = k;
        if (SameFieldName(name, "Name1")) name1 = k;
        if (SameFieldName(name, "Name2")) name2 = k;
        if (SameFieldName(name, "Expression")) expression = k;
    }
    if (id < 0 || attribute < 0 || flag < 0 || name1 < 0 || name2 < 0 || expression < 0)
        throw EProviderError("MSysQueries has an unknown layout");
    reader.Read(
        [&](const std::vector<TCellValue>& row) {
            const auto object = static_cast<std::uint32_t>(static_cast<std::int64_t>(row[id].Number)) & 0xFFFFFF;
            TQueryPart part;
            part.Attribute = static_cast<int>(row[attribute].Number);
            part.Flag = static_cast<int>(row[flag].Number);
            part.Name1 = row[name1].Text;
            part.Name2 = row[name2].Text;
            part.Expression = row[expression].Text;
            queries[object].Parts.push_back(std::move(part));
        },
        {});
    return queries;
}

}  // namespace

struct TMdbFile::TImpl {
    std::string Path;
    std::unique_ptr<TMapping> Mapping;  // outlives the handle that reads it
    THandle Mdb;
    bool QueriesRead = false;
    bool QueriesKnown = false;
    std::unordered_map<std::uint32_t, TQueryDefinition> Queries;

    void LoadQueries()
    {
        if (QueriesRead) return;
        QueriesRead = true;
        try {
            Queries = ReadQueryDefinitions(Path, Mdb.get());
            QueriesKnown = true;
        } catch (const EProviderError&) {
            QueriesKnown = false;
        }
    }
};

TMdbFile::TMdbFile(const std::string& path) : FImpl(std::make_unique<TImpl>())
{
    FImpl->Path = path;
    FImpl->Mapping = std::make_unique<TMapping>(path);
    FImpl->Mdb = OpenFile(path, *FImpl->Mapping);
}

TMdbFile::~TMdbFile() = default;

const std::string& TMdbFile::Path() const noexcept { return FImpl->Path; }

std::vector<TCatalogObject> TMdbFile::Catalog()
{
    FImpl->LoadQueries();
    MdbHandle* mdb = FImpl->Mdb.get();
    std::vector<TCatalogObject> objects;
    for (guint i = 0; i < mdb->num_catalog; ++i) {
        auto* entry = static_cast<MdbCatalogEntry*>(g_ptr_array_index(mdb->catalog, i));
        const std::string name = entry->object_name;
        if (name.empty()) continue;  // only a damaged catalog has nameless objects
        if (entry->object_type == MDB_TABLE) {
            objects.push_back({name, mdb_is_system_table(entry) || !mdb_is_user_table(entry) ? TObjectKind::SystemTable
                                                                                              : TObjectKind::Table});
        } else if (entry->object_type == MDB_QUERY && name[0] != '~') {
            // A view is a saved select query without parameters; where the definitions cannot
            // be read, the object's own flags (0: select) are all there is to go by.
            const auto it = FImpl->Queries.find(static_cast<std::uint32_t>(entry->table_pg) & 0xFFFFFF);
            const bool view = FImpl->QueriesKnown && it != FImpl->Queries.end() ? it->second.IsSelectWithoutParameters()
                                                                                : entry->flags == 0;
            if (view) objects.push_back({name, TObjectKind::View});
        }
    }
    return objects;
}

void TMdbFile::ReadTable(const std::string& tableName,
                         const std::function<void(const std::vector<TColumnInfo>&, std::int32_t)>& onColumns,
                         const std::function<void(const std::vector<TCellValue>&)>& onRecord, const TProgress& progress)
{
    MdbCatalogEntry* entry = FindEntry(FImpl->Mdb.get(), tableName, MDB_TABLE);
    if (!entry) throw EProviderError("Cannot find the input table '" + tableName + "'");
    TRecordReader reader(FImpl->Path, FImpl->Mdb.get(), entry);
    onColumns(reader.Columns(), reader.RecordCountHint());
    reader.Read(onRecord, progress);
}

TQueryDefinition TMdbFile::QueryDefinition(const std::string& queryName)
{
    FImpl->LoadQueries();
    MdbCatalogEntry* entry = FindEntry(FImpl->Mdb.get(), queryName, MDB_QUERY);
    if (!entry) throw EProviderError("Cannot find the query '" + queryName + "'");
    const auto it = FImpl->Queries.find(static_cast<std::uint32_t>(entry->table_pg) & 0xFFFFFF);
    if (it == FImpl->Queries.end()) throw EProviderError("The definition of the query '" + queryName + "' cannot be read");
    TQueryDefinition definition = it->second;
    definition.Name = queryName;
    return definition;
}

std::vector<TCatalogObject> ReadCatalog(const std::string& path) { return TMdbFile(path).Catalog(); }

void StreamTableRecords(const std::string& path, const std::string& tableName, TWireWriter& w,
                        const TProgress& progress)
{
    TMdbFile file(path);
    file.ReadTable(
        tableName, [&](const std::vector<TColumnInfo>& columns, std::int32_t hint) { WriteColumns(w, columns, hint); },
        [&](const std::vector<TCellValue>& row) {
            w.U8(static_cast<std::uint8_t>(TWireMark::Record));
            for (const auto& v : row) WriteCell(w, v.Kind, v.Number, v.Text);
        },
        progress);
    w.U8(static_cast<std::uint8_t>(TWireMark::End));
}

}  // namespace quorlin
