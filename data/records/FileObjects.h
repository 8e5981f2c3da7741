#pragma once
// What a database file holds, as the program lists it: tables, Access's own tables and views.

#include <cstdint>
#include <functional>
#include <string>

namespace quorlin {

enum class TObjectKind : std::uint8_t { Table = 0, View = 1, SystemTable = 2 };

struct TCatalogObject {
    std::string Name;
    TObjectKind Kind = TObjectKind::Table;
};

// Called now and then while a long read goes on, so that the caller can tell progress from a hang.
using TProgress = std::function<void()>;

}  // namespace quorlin
