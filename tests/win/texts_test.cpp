// The two text tables: the entries that must agree, the Windows-1252 degree sign, the format slots,
// and which locale gets which table.
#include "test_support.h"

#include "messages/texts.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

static const char* const* Entries(const LanguageTexts& table)
{
    return reinterpret_cast<const char* const*>(&table);
}

static const size_t entryCount = sizeof(LanguageTexts) / sizeof(const char*);

TEST(Texts, BothTablesHaveAllEntriesAndShareTheFixedOnes)
{
    for (const LanguageTexts* table : {&textsEN, &textsIT}) {
        for (size_t i = 0; i < entryCount; ++i) {
            ASSERT_NE(Entries(*table)[i], nullptr) << i;
            EXPECT_GT(std::strlen(Entries(*table)[i]), 0u) << i;
        }
        EXPECT_STREQ(table->dropScaleImage, table->dropImage);
        EXPECT_STREQ(table->msgSelectScaleImage, table->msgSelectImage);
    }
    EXPECT_STREQ(textsEN.appTitle, textsIT.appTitle);
    EXPECT_STREQ(textsEN.menuAbout, textsIT.menuAbout);
    EXPECT_STREQ(textsEN.aboutTitle, textsIT.aboutTitle);
    EXPECT_STRNE(textsEN.msgRotated, textsIT.msgRotated);
}

TEST(Texts, AboutTextIsTenLinesWithTheDegreeSignAsOneByte)
{
    const char* expected =
        "Lumivex v1.0\n\nAn application to rotate images and erode monochrome BMPs.\n\nFeatures:\n"
        "- Image rotation (90\xB0)\n- Morphological erosion of binary images\n- Corner margin management\n"
        "- Scale images with decimal precision\n- Automatic backup with progressive numbering";
    EXPECT_STREQ(textsEN.aboutText, expected);
    EXPECT_NE(std::strstr(textsIT.aboutText, "- Rotazione immagini (90\xB0)\n"), nullptr);
    EXPECT_EQ(std::strstr(textsIT.aboutText, "\xC2\xB0"), nullptr);  // not UTF-8
    EXPECT_EQ(std::count(textsIT.aboutText, textsIT.aboutText + std::strlen(textsIT.aboutText), '\n'), 9);
}

TEST(Texts, FormatSlotsTakeTheBackupNameAndTheResolution)
{
    for (const LanguageTexts* table : {&textsEN, &textsIT}) {
        for (const char* format : {table->msgRotated, table->msgEroded, table->msgMarginsSaved, table->msgScaled}) {
            char message[512];
            std::snprintf(message, sizeof message, format, "page1.png");
            EXPECT_NE(std::strstr(message, ": page1.png"), nullptr) << message;
        }
        char message[256];
        std::snprintf(message, sizeof message, table->msgDpiRequired, 299.6, 600.4);
        EXPECT_NE(std::strstr(message, ": 300 x 600 DPI"), nullptr) << message;
    }
    EXPECT_STREQ(textsIT.msgDpiRequired,
                 "L'immagine deve avere una risoluzione di 600 DPI.\nRisoluzione rilevata: %.0f x %.0f DPI");
}

TEST(Texts, EveryItalianLocaleGetsTheItalianTableAndAnyOtherEnglish)
{
    struct Case { LANGID language; const LanguageTexts* expected; };
    for (Case c : {Case{MAKELANGID(LANG_ITALIAN, SUBLANG_ITALIAN), &textsIT},
                   Case{MAKELANGID(LANG_ITALIAN, SUBLANG_ITALIAN_SWISS), &textsIT},
                   Case{MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), &textsEN},
                   Case{MAKELANGID(LANG_FRENCH, SUBLANG_FRENCH), &textsEN},
                   Case{MAKELANGID(LANG_FRENCH, SUBLANG_FRENCH_SWISS), &textsEN},
                   Case{MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN), &textsEN}}) {
        EXPECT_EQ(TextsForLocale(MAKELCID(c.language, SORT_DEFAULT)), c.expected) << std::hex << c.language;
    }
    // An identifier the system does not know falls back to English.
    EXPECT_EQ(TextsForLocale(MAKELCID(MAKELANGID(0x3FF, 0x3F), SORT_DEFAULT)), &textsEN);
}
