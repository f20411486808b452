// The two user-interface text tables (English, Italian) and the choice between them.
// Strings are Windows-1252, handed unchanged to the ANSI window functions.
#pragma once

#include <windows.h>

struct LanguageTexts {
    const char* appTitle;
    const char* tabRotation;
    const char* tabErosion;
    const char* tabMargins;
    const char* tabScale;
    const char* dropImage;
    const char* rotateLeft;
    const char* rotateRight;
    const char* erosionLabel;
    const char* dropMonoBmp;
    const char* cornerLabel;
    const char* cornerTopLeft;
    const char* cornerTopRight;
    const char* cornerBottomLeft;
    const char* cornerBottomRight;
    const char* marginHLabel;
    const char* marginVLabel;
    const char* dropBmp;
    const char* scaleXLabel;
    const char* scaleYLabel;
    const char* dropScaleImage;
    const char* menuAbout;
    const char* successTitle;
    const char* msgRotated;
    const char* msgEroded;
    const char* msgMarginsSaved;
    const char* msgScaled;
    const char* errorTitle;
    const char* msgProcessingError;
    const char* msgDpiRequired;
    const char* invalidFormatTitle;
    const char* msgSelectImage;
    const char* msgSelectMonoBmp;
    const char* msgSelectBmp;
    const char* msgSelectScaleImage;
    const char* aboutTitle;
    const char* aboutText;
    // The batch tool's deskew and check: "%s" the angle (two decimals, decimalMark), then the backup.
    const char* msgStraightened;
    const char* msgAlreadyStraight;
    const char* msgNoTextLines;
    const char* decimalMark;
    // A checked file: format, width, height, resolution pair, then what takes it or why nothing does.
    const char* msgCheckLine;
    const char* msgCheckTakenByAll;
    const char* msgCheckTakenByImageOperations;
    // A page that a killed run left set aside: "%s" its set-aside name.
    const char* msgCheckSetAside;
    // The batch tool's clean-up: the turn as in msgStraightened, the number of specks, the backup.
    const char* msgSpecksRemoved;
    const char* msgEdgesRemoved;
    const char* msgSpecksAndEdgesRemoved;
    const char* msgStraightenedSpecksRemoved;
    const char* msgStraightenedSpecksAndEdgesRemoved;
    const char* msgNoSpecks;
    const char* msgNoEdges;
    const char* msgNothingToClean;
};

extern const LanguageTexts textsEN;
extern const LanguageTexts textsIT;
// The active table: textsEN until SetupLanguage picks Italian.
extern const LanguageTexts* texts;

// The Italian table for a locale of the Italian language (Italy, Switzerland, ...), else English.
const LanguageTexts* TextsForLocale(LCID locale);
// Points texts at the table for the user's default locale. Called once at start-up, before any
// window exists.
void SetupLanguage();
