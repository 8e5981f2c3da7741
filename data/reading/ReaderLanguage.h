#pragma once
// The reading process speaks the language of the program that started it, whatever its locale
// says (the desktop program speaks Chinese under any locale), and finds the catalogs where that
// program found them (the reading program of the build tree lives in a folder of its own). The
// program hands both over in these variables of the reader's environment.

namespace quorlin {

constexpr const char* ReaderLanguageVariable = "QUORLIN_LANGUAGE";    // "zh_CN" or "en"
constexpr const char* ReaderCatalogsVariable = "QUORLIN_CATALOGS";    // the folder of the catalogs

// Speaks as the program that started this process asks. The C library reads a catalog at the
// first text looked up in it, and once confined the process can read none: warmUp, a text of
// the catalog, is looked up at once.
void SpeakAsTheProgramDoes(const char* warmUp);

}  // namespace quorlin
