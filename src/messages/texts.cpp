// The English and Italian text tables and the language choice at start-up.
#include "messages/texts.h"

#include <windows.h>

#include <cstring>

const LanguageTexts textsEN = {
    "Lumivex",
    "Rotation",
    "Erosion",
    "Margins",
    "Scale",
    "Drag and drop an image here",
    "Rotate left",
    "Rotate right",
    "Erosion pixels:",
    "Drag and drop a monochrome BMP here",
    "Select corner:",
    "Top Left",
    "Top Right",
    "Bottom Left",
    "Bottom Right",
    "Horizontal margin:",
    "Vertical margin:",
    "Drag and drop a BMP here",
    "Scale factor X:",
    "Scale factor Y:",
    "Drag and drop an image here",
    "About",
    "Success",
    "Image rotated and saved!\nBackup created: %s",
    "Image eroded and saved!\nBackup created: %s",
    "Margins modified and saved!\nBackup created: %s",
    "Image scaled and saved!\nBackup created: %s",
    "Error",
    "Error processing the image",
    "The image must have a resolution of 600 DPI.\nDetected resolution: %.0f x %.0f DPI",
    "Invalid Format",
    "Please select a valid image",
    "Please select a valid monochrome BMP file",
    "Please select a valid BMP file",
    "Please select a valid image",
    "About Lumivex",
        "Lumivex v1.0\n"
        "\n"
        "An application to rotate images and erode monochrome BMPs.\n"
        "\n"
        "Features:\n"
        "- Image rotation (90\xB0)\n"
        "- Morphological erosion of binary images\n"
        "- Corner margin management\n"
        "- Scale images with decimal precision\n"
        "- Automatic backup with progressive numbering",
    "Straightened by %s degrees.\nBackup created: %s",
    "Already straight",
    "No text lines found, left as it was",
    ".",
    "%s, %u x %u pixels, %.0f x %.0f DPI: %s",
    "every operation takes it",
    "rotate, scale, deskew, despeckle, borders and clean take it; erode and margins take BMP files only",
    "set aside by an interrupted run as %s; any operation on the page puts it back",
    "%d specks removed.\nBackup created: %s",
    "Black edges removed.\nBackup created: %s",
    "%d specks and the black edges removed.\nBackup created: %s",
    "Straightened by %s degrees, %d specks removed.\nBackup created: %s",
    "Straightened by %s degrees, %d specks and the black edges removed.\nBackup created: %s",
    "No specks found, left as it was",
    "No black edges found, left as it was",
    "Nothing to clean, left as it was",
};

const LanguageTexts textsIT = {
    "Lumivex",
    "Rotazione",
    "Erosione",
    "Margini",
    "Scala",
    "Trascina qui un'immagine",
    "Rotazione a sinistra",
    "Rotazione a destra",
    "Pixel di erosione:",
    "Trascina qui un BMP monocromatico",
    "Seleziona angolo:",
    "Alto Sinistra",
    "Alto Destra",
    "Basso Sinistra",
    "Basso Destra",
    "Margine orizzontale:",
    "Margine verticale:",
    "Trascina qui un BMP",
    "Fattore scala X:",
    "Fattore scala Y:",
    "Trascina qui un'immagine",
    "About",
    "Successo",
    "Immagine ruotata e salvata!\nBackup creato: %s",
    "Immagine erosa e salvata!\nBackup creato: %s",
    "Margini modificati e salvati!\nBackup creato: %s",
    "Immagine scalata e salvata!\nBackup creato: %s",
    "Errore",
    "Errore nell'elaborazione dell'immagine",
    "L'immagine deve avere una risoluzione di 600 DPI.\nRisoluzione rilevata: %.0f x %.0f DPI",
    "Formato non valido",
    "Seleziona un'immagine valida",
    "Seleziona un file BMP monocromatico valido",
    "Seleziona un file BMP valido",
    "Seleziona un'immagine valida",
    "About Lumivex",
        "Lumivex v1.0\n"
        "\n"
        "Un'applicazione per ruotare immagini ed erodere BMP monocromatici.\n"
        "\n"
        "Funzioni:\n"
        "- Rotazione immagini (90\xB0)\n"
        "- Erosione morfologica di immagini binarie\n"
        "- Gestione margini angolari\n"
        "- Scala immagini con precisione decimale\n"
        "- Backup automatico con numerazione progressiva",
    "Raddrizzata di %s gradi.\nBackup creato: %s",
    "Gi\xE0 diritta",
    "Nessuna riga di testo trovata, lasciata com'era",
    ",",
    "%s, %u x %u pixel, %.0f x %.0f DPI: %s",
    "ogni operazione la accetta",
    "rotate, scale, deskew, despeckle, borders e clean la accettano; erode e margins accettano solo file BMP",
    "messa da parte da un'esecuzione interrotta come %s; qualsiasi operazione sulla pagina la rimette al suo posto",
    "%d puntini rimossi.\nBackup creato: %s",
    "Bordi neri rimossi.\nBackup creato: %s",
    "%d puntini e i bordi neri rimossi.\nBackup creato: %s",
    "Raddrizzata di %s gradi, %d puntini rimossi.\nBackup creato: %s",
    "Raddrizzata di %s gradi, %d puntini e i bordi neri rimossi.\nBackup creato: %s",
    "Nessun puntino trovato, lasciata com'era",
    "Nessun bordo nero trovato, lasciata com'era",
    "Niente da pulire, lasciata com'era",
};

const LanguageTexts* texts = &textsEN;

const LanguageTexts* TextsForLocale(LCID locale)
{
    char language[10] = "";
    // A failed query leaves the buffer empty, which keeps English.
    GetLocaleInfoA(locale, LOCALE_SISO639LANGNAME, language, sizeof language);
    return std::strcmp(language, "it") == 0 ? &textsIT : &textsEN;
}

void SetupLanguage()
{
    texts = TextsForLocale(GetUserDefaultLCID());
}
