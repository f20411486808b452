// Prints nothing and exits 0 when SetupLanguage picks the table named on the command line
// ("Italian" or "English") for the locale the environment gives Wine.
#include "messages/texts.h"

#include <cstdio>
#include <cstring>

int main(int argc, char** argv)
{
    if (argc != 2) return 2;
    SetupLanguage();
    const LanguageTexts* expected = std::strcmp(argv[1], "Italian") == 0 ? &textsIT : &textsEN;
    if (texts != expected) {
        std::printf("expected the %s table, got \"%s\" for tabRotation\n", argv[1], texts->tabRotation);
        return 1;
    }
    return 0;
}
