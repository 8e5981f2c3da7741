#include <iostream>

#include "batch/BatchCommand.h"
#include "support/Messages.h"

// Like the system's other command-line tools, the batch command speaks the language the locale
// asks for; without one it speaks English.
int main(int argc, char** argv)
{
    quorlin::Speak(quorlin::LanguageAsked(), quorlin::CatalogFolder());
    return quorlin::RunBatch(argc, argv, std::cout, std::cerr);
}
