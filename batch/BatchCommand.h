#pragma once
// quorlin-batch: the numerical road without the desktop, for scripts.
//
//   quorlin-batch compute SOURCE --y FIELD [--x FIELD]... [--method stepwise|full] [--fa VALUE]
//                 [--report FILE] [--json]
//   quorlin-batch fields SOURCE
//   quorlin-batch export SOURCE [--table NAME]
//   quorlin-batch update|insert|delete DATABASE --table NAME [--record N] [--set FIELD=VALUE]...
//
// Exit status: 0 done; 1 the computation failed (a floating-point fault, a value that is no
// number, a report that cannot be written); 2 bad usage or input.

#include <iosfwd>

namespace quorlin {

int RunBatch(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

}  // namespace quorlin
