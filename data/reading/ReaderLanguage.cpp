#include "data/reading/ReaderLanguage.h"

#include <cstdlib>

#include "support/Messages.h"

namespace quorlin {

void SpeakAsTheProgramDoes(const char* warmUp)
{
    const char* tag = std::getenv(ReaderLanguageVariable);
    const char* folder = std::getenv(ReaderCatalogsVariable);
    Speak(tag ? LanguageOfTag(tag) : LanguageAsked(), folder && *folder ? folder : CatalogFolder());
    (void)Tr(warmUp);
}

}  // namespace quorlin
