// The batch tool's own texts, in English and Italian: its results' summary lines, its usage and its
// usage errors. The rest of what it prints is the window's.
#pragma once

// The formats' "%d" and "%s" take, in order, the values named beside them.
struct BatchTexts {
    const char* noMatch;           // a name or pattern that names no file
    const char* summary;           // files, succeeded, failed
    const char* notProcessed;      // the files left after a stop
    const char* backupsLeftOut;    // the numbered backups that patterns matched and the run left out
    const char* usage;             // --help
    const char* seeHelp;           // the line after a usage error
    const char* noOperation;       // operationNames
    const char* unknownOperation;  // the word given, operationNames
    const char* parameterMissing;  // operation, parameter, range
    const char* parameterWrong;    // operation, parameter, range, the word given
    const char* noFile;            // operation
    const char* optionMissing;     // option, range
    const char* optionWrong;       // option, range, the word given
    const char* unknownOption;     // the word given
    const char* maxOutsideDeskew;
    const char* sizeOutsideDespeckle;
    const char* operationNames;
    const char* direction;
    const char* directionRange;
    const char* pixels;
    const char* pixelsRange;
    const char* corner;
    const char* cornerRange;
    const char* horizontal;
    const char* vertical;
    const char* marginRange;
    const char* x;
    const char* y;
    const char* factorRange;
    const char* jobsRange;
    const char* degreesRange;
    const char* sizeRange;
};

// The table in the language of the window's texts.
const BatchTexts& ActiveBatchTexts();
