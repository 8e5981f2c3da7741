#include "TableData.h"

namespace quorlin {

bool HasNumericReading(TColumnType type) noexcept
{
    switch (type) {
    case TColumnType::Byte:
    case TColumnType::Integer:
    case TColumnType::Long:
    case TColumnType::Currency:
    case TColumnType::Single:
    case TColumnType::Double:
    case TColumnType::DateTime:
    case TColumnType::Decimal:
    case TColumnType::Text:
        return true;
    default:
        return false;
    }
}

bool IsTextual(TColumnType type) noexcept { return type == TColumnType::Text || type == TColumnType::Memo; }

const char* ColumnTypeName(TColumnType type) noexcept
{
    switch (type) {
    case TColumnType::Boolean: return "Yes/No";
    case TColumnType::Byte: return "Byte";
    case TColumnType::Integer: return "Integer";
    case TColumnType::Long: return "Long Integer";
    case TColumnType::Currency: return "Currency";
    case TColumnType::Single: return "Single";
    case TColumnType::Double: return "Double";
    case TColumnType::DateTime: return "Date/Time";
    case TColumnType::Binary: return "Binary";
    case TColumnType::Text: return "Text";
    case TColumnType::Ole: return "OLE Object";
    case TColumnType::Memo: return "Memo";
    case TColumnType::ReplicationId: return "Replication ID";
    case TColumnType::Decimal: return "Decimal";
    case TColumnType::Complex: return "Attachment";
    }
    return "Unknown";
}

}  // namespace quorlin
