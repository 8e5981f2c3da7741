#pragma once
// Text as the file stores it, to UTF-8.

#include <string>

#include "data/format/Bytes.h"
#include "data/format/Format.h"
#include "data/format/read/Pages.h"

namespace quorlin::jet {

// Jet 3: bytes in codePage. Jet 4 and ACE: UTF-16, possibly compressed (see CompressedTextMark).
std::string DecodeText(TView bytes, const TFormat& format, unsigned codePage);

// Jet 4 and ACE text as the UTF-16 code units it stands for, compressed or not; a lone odd byte
// at the end is dropped.
std::u16string Utf16Units(TView bytes);

// The code page a Jet 3 file's text is in, from its database page (whose start is scrambled
// with a fixed key); 1252 when the page names none.
unsigned DatabaseCodePage(const TPages& pages);

}  // namespace quorlin::jet
