#pragma once
// Memo and OLE values: inline in the row, or in one or a chain of long-value rows (fact 7).

#include "Pages.h"

namespace quorlin::jet {

// The whole value that the field's reference describes; a chain that loops or ends early is
// damage.
TBytes ReadLongValue(const TPages& pages, TView field);

}  // namespace quorlin::jet
