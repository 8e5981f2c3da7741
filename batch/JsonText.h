#pragma once
// JSON as the batch command prints it: one line, and text that is not UTF-8 (a field name of an
// old file) replaced rather than stopping the output.

#include <string>

namespace quorlin {

template <class TJson>
std::string DumpJson(const TJson& j)
{
    return j.dump(-1, ' ', false, TJson::error_handler_t::replace);
}

}  // namespace quorlin
