#include "values/CellValues.h"

#include "support/Messages.h"

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

bool HasExactText(TColumnType type) noexcept { return type == TColumnType::Currency || type == TColumnType::Decimal; }

bool IsTextual(TColumnType type) noexcept { return type == TColumnType::Text || type == TColumnType::Memo; }

const char* ColumnTypeName(TColumnType type) noexcept
{
    switch (type) {
    case TColumnType::Boolean: return TrNoop("Yes/No");
    case TColumnType::Byte: return TrNoop("Byte");
    case TColumnType::Integer: return TrNoop("Integer");
    case TColumnType::Long: return TrNoop("Long Integer");
    case TColumnType::Currency: return TrNoop("Currency");
    case TColumnType::Single: return TrNoop("Single");
    case TColumnType::Double: return TrNoop("Double");
    case TColumnType::DateTime: return TrNoop("Date/Time");
    case TColumnType::Binary: return TrNoop("Binary");
    case TColumnType::Text: return TrNoop("Text");
    case TColumnType::Ole: return TrNoop("OLE Object");
    case TColumnType::Memo: return TrNoop("Memo");
    case TColumnType::ReplicationId: return TrNoop("Replication ID");
    case TColumnType::Decimal: return TrNoop("Decimal");
    case TColumnType::Complex: return TrNoop("Attachment");
    }
    return TrNoop("Unknown");
}

const char* ShownColumnTypeName(TColumnType type) noexcept { return Tr(ColumnTypeName(type)); }

}  // namespace quorlin
