// The batch tool's own texts.
#include "batch/batch_texts.h"

#include "messages/texts.h"

static const BatchTexts batchTextsEN = {
    "No file matches this name",
    "%d files: %d succeeded, %d failed",
    "Stopped: %d files not processed",
    "%d backups left out",
    "Usage:\n"
    "  lumivex-batch [--jobs N] [--include-backups] rotate right|left FILE...\n"
    "  lumivex-batch [--jobs N] [--include-backups] erode PIXELS FILE...\n"
    "  lumivex-batch [--jobs N] [--include-backups] margins top-left|top-right|bottom-left|bottom-right\n"
    "                HORIZONTAL VERTICAL FILE...\n"
    "  lumivex-batch [--jobs N] [--include-backups] scale X Y FILE...\n"
    "  lumivex-batch [--jobs N] [--include-backups] deskew [--max DEGREES] FILE...\n"
    "  lumivex-batch [--jobs N] [--include-backups] despeckle [--size PIXELS] FILE...\n"
    "  lumivex-batch [--jobs N] [--include-backups] borders FILE...\n"
    "  lumivex-batch [--jobs N] [--include-backups] clean [--max DEGREES] [--size PIXELS] FILE...\n"
    "  lumivex-batch [--jobs N] [--include-backups] check FILE...\n"
    "  lumivex-batch --help\n"
    "  lumivex-batch --version\n"
    "\n"
    "Changes 600-DPI image files in place, each after a numbered backup beside it (page.png gets page1.png).\n"
    "  rotate    a quarter turn of a PNG, JPEG or BMP file\n"
    "  erode     erodes the black of a BMP file by PIXELS (1 to 50)\n"
    "  margins   at one corner of a BMP file, pads (positive) or crops (zero or negative) the two edges,\n"
    "            HORIZONTAL and VERTICAL in tenths of a millimetre (-500 to 500)\n"
    "  scale     resamples a PNG, JPEG or BMP file by X and Y (0.0001 to 10; \".\" or \",\" as the\n"
    "            decimal mark)\n"
    "  deskew    straightens a skewed scan (PNG, JPEG or BMP): finds the angle of its lines of text\n"
    "            and rules within DEGREES either way (--max, 0.1 to 10, default 5) and turns the page\n"
    "            back about its centre, keeping its size; prints the turn made, negative for\n"
    "            counter-clockwise, positive for clockwise. A page within 0.01 degrees of straight, or\n"
    "            without lines of text (a photo, a blank page), is left as it was, without a backup.\n"
    "  despeckle removes specks: groups of black pixels touching by a side or a corner, of at most\n"
    "            PIXELS pixels (--size, 1 to 10000; default 40 at 600 DPI, about a 6-point period,\n"
    "            scaled with the square of the resolution), with no larger ink within 1.5 mm of the\n"
    "            box around them (nor a small group kept this way). A period, comma, accent or i dot\n"
    "            sits beside its letters and is kept; a speck 60 pixels or more from other ink goes.\n"
    "  borders   turns white the black edges of a scan: dark regions that touch the page's edge and\n"
    "            reach no further in than 15 mm. Text, rules and pictures that reach further in are\n"
    "            kept, even where they touch the edge.\n"
    "  clean     deskew, borders and despeckle in that order, with one backup and one save.\n"
    "            These three take PNG, JPEG and BMP files, judge grey and colour pages on their\n"
    "            black-and-white picture and turn what they remove white; a page with nothing to\n"
    "            change is left as it was, without a backup.\n"
    "  check     prints each file's format, size and resolution and whether the operations would take\n"
    "            it; changes nothing\n"
    "Every BMP is written as 1-bit black and white. A GIF file stores no resolution and is refused as\n"
    "not 600 DPI. Paths are limited to 259 characters of the ANSI code page; a name outside it, or a\n"
    "longer path, is refused with \"Error processing the image\". Values out of range are refused,\n"
    "never clamped (the window clamps what is typed into its fields).\n"
    "FILE may hold * and ? in its last part (page*.bmp, scans\\?.png); names are taken in name order.\n"
    "Where a pattern matches both page.png and page1.png (page2.png, ...), these are taken for the\n"
    "numbered backups of page.png and left out; files named without a pattern are always processed.\n"
    "--jobs N            files processed at once, 1 to 64 (default: the number of processors)\n"
    "--include-backups   patterns take the numbered backups too\n"
    "A stopped run (Ctrl+C) names on standard error each file it did not process.\n"
    "A success is printed on standard output, a failure on standard error. Exit status: 0 when every\n"
    "file succeeded, 1 when any failed, 2 for a mistake in the command.",
    "Run \"lumivex-batch --help\" for the usage.",
    "no operation given %s",
    "unknown operation %s %s",
    "%s: %s is missing: %s",
    "%s: %s must be %s, not %s",
    "%s: no FILE given",
    "%s is missing its number: %s",
    "%s must be %s, not %s",
    "unknown option %s",
    "--max is an option of deskew and clean only",
    "--size is an option of despeckle and clean only",
    "(rotate, erode, margins, scale, deskew, despeckle, borders, clean or check)",
    "the direction",
    "right or left",
    "PIXELS",
    "a whole number from 1 to 50",
    "the corner",
    "top-left, top-right, bottom-left or bottom-right",
    "HORIZONTAL",
    "VERTICAL",
    "a whole number of tenths of a millimetre from -500 to 500",
    "X",
    "Y",
    "a number from 0.0001 to 10, with \".\" or \",\" as the decimal mark",
    "a whole number from 1 to 64",
    "a number of degrees from 0.1 to 10, with \".\" or \",\" as the decimal mark",
    "a whole number of pixels from 1 to 10000",
};

// In the code page of the window's Italian texts.
static const BatchTexts batchTextsIT = {
    "Nessun file corrisponde a questo nome",
    "%d file: %d riusciti, %d non riusciti",
    "Interrotto: %d file non elaborati",
    "%d backup esclusi",
    "Uso:\n"
    "  lumivex-batch [--jobs N] [--include-backups] rotate right|left FILE...\n"
    "  lumivex-batch [--jobs N] [--include-backups] erode PIXEL FILE...\n"
    "  lumivex-batch [--jobs N] [--include-backups] margins top-left|top-right|bottom-left|bottom-right\n"
    "                ORIZZONTALE VERTICALE FILE...\n"
    "  lumivex-batch [--jobs N] [--include-backups] scale X Y FILE...\n"
    "  lumivex-batch [--jobs N] [--include-backups] deskew [--max GRADI] FILE...\n"
    "  lumivex-batch [--jobs N] [--include-backups] despeckle [--size PIXEL] FILE...\n"
    "  lumivex-batch [--jobs N] [--include-backups] borders FILE...\n"
    "  lumivex-batch [--jobs N] [--include-backups] clean [--max GRADI] [--size PIXEL] FILE...\n"
    "  lumivex-batch [--jobs N] [--include-backups] check FILE...\n"
    "  lumivex-batch --help\n"
    "  lumivex-batch --version\n"
    "\n"
    "Modifica sul posto file di immagine a 600 DPI, ognuno dopo un backup numerato accanto a esso\n"
    "(page.png riceve page1.png).\n"
    "  rotate    un quarto di giro di un file PNG, JPEG o BMP\n"
    "  erode     erode il nero di un file BMP di PIXEL (da 1 a 50)\n"
    "  margins   a un angolo di un file BMP, aggiunge (positivi) o taglia (zero o negativi) i due bordi,\n"
    "            ORIZZONTALE e VERTICALE in decimi di millimetro (da -500 a 500)\n"
    "  scale     ricampiona un file PNG, JPEG o BMP di X e Y (da 0,0001 a 10; \".\" o \",\" come\n"
    "            separatore decimale)\n"
    "  deskew    raddrizza una scansione storta (PNG, JPEG o BMP): trova l'angolo delle righe di testo\n"
    "            e dei filetti entro GRADI in ciascun verso (--max, da 0,1 a 10, 5 se omesso) e ruota la\n"
    "            pagina attorno al centro, mantenendone le dimensioni; stampa la rotazione eseguita,\n"
    "            negativa se antioraria, positiva se oraria. Una pagina diritta entro 0,01 gradi, o senza\n"
    "            righe di testo (una foto, una pagina bianca), resta com'era, senza backup.\n"
    "  despeckle rimuove i puntini: gruppi di pixel neri che si toccano per un lato o un angolo, di al\n"
    "            massimo PIXEL pixel (--size, da 1 a 10000; 40 a 600 DPI se omesso, circa il punto di\n"
    "            un testo a 6 punti, in proporzione al quadrato della risoluzione), senza inchiostro\n"
    "            pi\xF9 grande entro 1,5 mm dal rettangolo che li contiene (n\xE9 un piccolo gruppo tenuto\n"
    "            cos\xEC). Un punto, una virgola, un accento o il punto di una i stanno accanto alle\n"
    "            lettere e restano; un puntino a 60 pixel o pi\xF9 da altro inchiostro \xE8 rimosso.\n"
    "  borders   rende bianchi i bordi neri di una scansione: zone scure che toccano il bordo della\n"
    "            pagina e non vi entrano per pi\xF9 di 15 mm. Testo, filetti e immagini che entrano di\n"
    "            pi\xF9 restano, anche dove toccano il bordo.\n"
    "  clean     deskew, borders e despeckle in quest'ordine, con un solo backup e un solo salvataggio.\n"
    "            Questi tre accettano file PNG, JPEG e BMP, giudicano le pagine grigie e a colori sulla\n"
    "            loro immagine in bianco e nero e rendono bianco ci\xF2 che rimuovono; una pagina senza\n"
    "            nulla da cambiare resta com'era, senza backup.\n"
    "  check     stampa formato, dimensioni e risoluzione di ogni file e se le operazioni lo\n"
    "            accetterebbero; non modifica nulla\n"
    "Ogni BMP \xE8 scritto in bianco e nero a 1 bit. Un file GIF non memorizza la risoluzione ed \xE8\n"
    "rifiutato come non a 600 DPI. I percorsi sono limitati a 259 caratteri della tabella codici ANSI;\n"
    "un nome fuori da essa, o un percorso pi\xF9 lungo, \xE8 rifiutato con \"Errore nell'elaborazione\n"
    "dell'immagine\". I valori fuori intervallo sono rifiutati, mai ridotti ai limiti (la finestra\n"
    "riduce ai limiti ci\xF2 che si digita nei suoi campi).\n"
    "FILE pu\xF2 contenere * e ? nella sua ultima parte (page*.bmp, scans\\?.png); i nomi sono presi in\n"
    "ordine di nome. Dove un modello corrisponde sia a page.png sia a page1.png (page2.png, ...), questi\n"
    "sono considerati backup numerati di page.png ed esclusi; i file nominati senza modello sono sempre\n"
    "elaborati.\n"
    "--jobs N            file elaborati insieme, da 1 a 64 (se omesso: il numero di processori)\n"
    "--include-backups   i modelli prendono anche i backup numerati\n"
    "Un'esecuzione interrotta (Ctrl+C) nomina sullo standard error ogni file non elaborato.\n"
    "Un successo \xE8 stampato sullo standard output, un errore sullo standard error. Codice di uscita:\n"
    "0 se ogni file \xE8 riuscito, 1 se qualcuno non \xE8 riuscito, 2 per un errore nel comando.",
    "Per l'uso, eseguire \"lumivex-batch --help\".",
    "nessuna operazione indicata %s",
    "operazione sconosciuta %s %s",
    "%s: manca %s: %s",
    "%s: %s deve essere %s, non %s",
    "%s: nessun FILE indicato",
    "a %s manca il numero: %s",
    "%s deve essere %s, non %s",
    "opzione sconosciuta %s",
    "--max \xE8 un'opzione solo di deskew e clean",
    "--size \xE8 un'opzione solo di despeckle e clean",
    "(rotate, erode, margins, scale, deskew, despeckle, borders, clean o check)",
    "la direzione",
    "right o left",
    "PIXEL",
    "un numero intero da 1 a 50",
    "l'angolo",
    "top-left, top-right, bottom-left o bottom-right",
    "ORIZZONTALE",
    "VERTICALE",
    "un numero intero di decimi di millimetro da -500 a 500",
    "X",
    "Y",
    "un numero da 0,0001 a 10, con \".\" o \",\" come separatore decimale",
    "un numero intero da 1 a 64",
    "un numero di gradi da 0,1 a 10, con \".\" o \",\" come separatore decimale",
    "un numero intero di pixel da 1 a 10000",
};

const BatchTexts& ActiveBatchTexts()
{
    return texts == &textsIT ? batchTextsIT : batchTextsEN;
}
