// Parsing of the batch tool's command line into an operation, its parameters, the options and the files.
#include "batch/arguments.h"

#include "messages/texts.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>

static const UsageTexts usageTextsEN = {
    "Usage:\n"
    "  lumivex-batch [--jobs N] [--include-backups] rotate right|left FILE...\n"
    "  lumivex-batch [--jobs N] [--include-backups] erode PIXELS FILE...\n"
    "  lumivex-batch [--jobs N] [--include-backups] margins top-left|top-right|bottom-left|bottom-right\n"
    "                HORIZONTAL VERTICAL FILE...\n"
    "  lumivex-batch [--jobs N] [--include-backups] scale X Y FILE...\n"
    "  lumivex-batch [--jobs N] [--include-backups] deskew [--max DEGREES] FILE...\n"
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
    "            counter-clockwise, positive for clockwise. A page within 0.05 degrees of straight, or\n"
    "            without lines of text (a photo, a blank page), is left as it was, without a backup.\n"
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
    "--max is an option of deskew only",
    "(rotate, erode, margins, scale, deskew or check)",
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
};

// The Italian table, in the code page of the window's Italian texts.
static const UsageTexts usageTextsIT = {
    "Uso:\n"
    "  lumivex-batch [--jobs N] [--include-backups] rotate right|left FILE...\n"
    "  lumivex-batch [--jobs N] [--include-backups] erode PIXEL FILE...\n"
    "  lumivex-batch [--jobs N] [--include-backups] margins top-left|top-right|bottom-left|bottom-right\n"
    "                ORIZZONTALE VERTICALE FILE...\n"
    "  lumivex-batch [--jobs N] [--include-backups] scale X Y FILE...\n"
    "  lumivex-batch [--jobs N] [--include-backups] deskew [--max GRADI] FILE...\n"
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
    "            negativa se antioraria, positiva se oraria. Una pagina diritta entro 0,05 gradi, o senza\n"
    "            righe di testo (una foto, una pagina bianca), resta com'era, senza backup.\n"
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
    "--max \xE8 un'opzione solo di deskew",
    "(rotate, erode, margins, scale, deskew o check)",
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
};

const UsageTexts& ActiveUsageTexts()
{
    return texts == &textsIT ? usageTextsIT : usageTextsEN;
}

// Parameters are ASCII words and numbers; any other character makes the text malformed (empty).
static std::string AsciiOrEmpty(const std::wstring& text)
{
    std::string narrow;
    for (wchar_t unit : text) {
        if (unit == 0 || unit > 0x7E) return "";
        narrow += static_cast<char>(unit);
    }
    return narrow;
}

// Optional sign, then decimal digits only; false when malformed or outside [lowest, highest].
static bool ReadWholeInRange(const std::string& text, int lowest, int highest, int& value)
{
    size_t at = !text.empty() && (text[0] == '+' || text[0] == '-') ? 1 : 0;
    if (at == text.size()) return false;
    long long magnitude = 0;
    for (; at < text.size(); ++at) {
        if (text[at] < '0' || text[at] > '9') return false;
        magnitude = std::min(magnitude * 10 + (text[at] - '0'), 1LL << 40);  // far outside every range
    }
    long long number = text[0] == '-' ? -magnitude : magnitude;
    if (number < lowest || number > highest) return false;
    value = static_cast<int>(number);
    return true;
}

// Optional sign, digits with at most one "." or "," among them; false when malformed or outside the range.
static bool ReadDecimalInRange(const std::string& given, double lowest, double highest, double& value)
{
    std::string text = given;
    size_t marks = 0, digits = 0;
    for (size_t at = 0; at < text.size(); ++at) {
        char c = text[at];
        if (c == ',' || c == '.') {
            text[at] = '.';  // strtod in the C locale reads "."
            ++marks;
        } else if (c >= '0' && c <= '9') {
            ++digits;
        } else if (!(at == 0 && (c == '+' || c == '-'))) {
            return false;
        }
    }
    if (digits == 0 || marks > 1) return false;
    double number = std::strtod(text.c_str(), nullptr);
    if (!(number >= lowest && number <= highest)) return false;
    value = number;
    return true;
}

// One value of an operation: its name in the usage, what it must be (both from the texts), and how
// it is read.
struct Parameter {
    const char* UsageTexts::*name;
    const char* UsageTexts::*range;
    bool (*read)(const std::string& text, BatchCommand& command);
};

static bool ReadCorner(const std::string& text, BatchCommand& command)
{
    static const char* const names[] = {"top-left", "top-right", "bottom-left", "bottom-right"};
    for (int corner = TopLeft; corner <= BottomRight; ++corner) {
        if (text == names[corner]) {
            command.corner = static_cast<Corner>(corner);
            return true;
        }
    }
    return false;
}

static const Parameter rotateParameters[] = {
    {&UsageTexts::direction, &UsageTexts::directionRange,
     [](const std::string& text, BatchCommand& command) {
         if (text != "right" && text != "left") return false;
         command.angle = text == "right" ? 90 : -90;
         return true;
     }},
};
static const Parameter erodeParameters[] = {
    {&UsageTexts::pixels, &UsageTexts::pixelsRange,
     [](const std::string& text, BatchCommand& command) { return ReadWholeInRange(text, 1, 50, command.passes); }},
};
static const Parameter marginsParameters[] = {
    {&UsageTexts::corner, &UsageTexts::cornerRange, ReadCorner},
    {&UsageTexts::horizontal, &UsageTexts::marginRange,
     [](const std::string& text, BatchCommand& command) {
         return ReadWholeInRange(text, -500, 500, command.horizontalMarginMM);
     }},
    {&UsageTexts::vertical, &UsageTexts::marginRange,
     [](const std::string& text, BatchCommand& command) {
         return ReadWholeInRange(text, -500, 500, command.verticalMarginMM);
     }},
};
static const Parameter scaleParameters[] = {
    {&UsageTexts::x, &UsageTexts::factorRange,
     [](const std::string& text, BatchCommand& command) {
         return ReadDecimalInRange(text, 0.0001, 10, command.factorX);
     }},
    {&UsageTexts::y, &UsageTexts::factorRange,
     [](const std::string& text, BatchCommand& command) {
         return ReadDecimalInRange(text, 0.0001, 10, command.factorY);
     }},
};

struct OperationSyntax {
    const char* name;
    Operation operation;
    const Parameter* parameters;
    size_t count;
};

template <size_t count>
static constexpr OperationSyntax Syntax(const char* name, Operation operation, const Parameter (&parameters)[count])
{
    return {name, operation, parameters, count};
}

static constexpr OperationSyntax Syntax(const char* name, Operation operation)
{
    return {name, operation, nullptr, 0};
}

static const OperationSyntax operationSyntaxes[] = {
    Syntax("rotate", Operation::Rotate, rotateParameters),
    Syntax("erode", Operation::Erode, erodeParameters),
    Syntax("margins", Operation::Margins, marginsParameters),
    Syntax("scale", Operation::Scale, scaleParameters),
    Syntax("deskew", Operation::Deskew),
    Syntax("check", Operation::Check),
};

// A usage error: `format` from the texts with up to four values.
static ParsedCommand UsageError(const char* format, const std::string& a = "", const std::string& b = "",
                                const std::string& c = "", const std::string& d = "")
{
    char error[1024];
    std::snprintf(error, sizeof error, format, a.c_str(), b.c_str(), c.c_str(), d.c_str());
    ParsedCommand parsed;
    parsed.error = error;
    return parsed;
}

static std::string Quoted(const std::wstring& text)
{
    std::string shown;
    for (wchar_t unit : text) shown += unit > 0 && unit < 0x7F ? static_cast<char>(unit) : '?';
    return "\"" + shown + "\"";
}

// The operation, its parameters and at least one file, from the arguments that are not options.
static ParsedCommand ParsePositional(const std::vector<std::wstring>& positional, ParsedCommand parsed)
{
    const UsageTexts& words = ActiveUsageTexts();
    if (positional.empty()) return UsageError(words.noOperation, words.operationNames);
    const OperationSyntax* syntax = nullptr;
    for (const OperationSyntax& candidate : operationSyntaxes) {
        if (AsciiOrEmpty(positional[0]) == candidate.name) syntax = &candidate;
    }
    if (!syntax) return UsageError(words.unknownOperation, Quoted(positional[0]), words.operationNames);
    parsed.command.operation = syntax->operation;
    for (size_t i = 0; i < syntax->count; ++i) {
        const Parameter& parameter = syntax->parameters[i];
        if (i + 1 >= positional.size()) {
            return UsageError(words.parameterMissing, syntax->name, words.*parameter.name, words.*parameter.range);
        }
        if (!parameter.read(AsciiOrEmpty(positional[i + 1]), parsed.command)) {
            return UsageError(words.parameterWrong, syntax->name, words.*parameter.name, words.*parameter.range,
                              Quoted(positional[i + 1]));
        }
    }
    parsed.command.files.assign(positional.begin() + 1 + static_cast<long>(syntax->count), positional.end());
    if (parsed.command.files.empty()) return UsageError(words.noFile, syntax->name);
    parsed.request = Request::Run;
    return parsed;
}

// Reads the number that follows the option at arguments[i] into `value`, moving `i` to it; the usage
// error, naming `range`, when it is missing or malformed.
template <typename Number>
static std::optional<ParsedCommand> ReadOptionNumber(const std::vector<std::wstring>& arguments, size_t& i,
                                                     const char* range,
                                                     bool (*read)(const std::string&, Number, Number, Number&),
                                                     Number lowest, Number highest, Number& value)
{
    const UsageTexts& words = ActiveUsageTexts();
    std::string option = AsciiOrEmpty(arguments[i]);
    if (i + 1 == arguments.size()) return UsageError(words.optionMissing, option, range);
    if (!read(AsciiOrEmpty(arguments[++i]), lowest, highest, value)) {
        return UsageError(words.optionWrong, option, range, Quoted(arguments[i]));
    }
    return std::nullopt;
}

ParsedCommand ParseArguments(const std::vector<std::wstring>& arguments)
{
    const UsageTexts& words = ActiveUsageTexts();
    ParsedCommand parsed;
    std::vector<std::wstring> positional;
    bool options = true, maxGiven = false;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::wstring& argument = arguments[i];
        std::optional<ParsedCommand> error;
        if (!options || argument.compare(0, 2, L"--") != 0) {
            positional.push_back(argument);
        } else if (argument == L"--") {
            options = false;
        } else if (argument == L"--help" || argument == L"--version") {
            parsed.request = argument == L"--help" ? Request::Help : Request::Version;
            return parsed;
        } else if (argument == L"--include-backups") {
            parsed.command.includeBackups = true;
        } else if (argument == L"--jobs") {
            error = ReadOptionNumber(arguments, i, words.jobsRange, ReadWholeInRange, 1, 64, parsed.command.jobs);
        } else if (argument == L"--max") {
            error = ReadOptionNumber(arguments, i, words.degreesRange, ReadDecimalInRange, 0.1, 10.0,
                                     parsed.command.maxDegrees);
            maxGiven = true;
        } else {
            return UsageError(words.unknownOption, Quoted(argument));
        }
        if (error) return *error;
    }
    parsed = ParsePositional(positional, parsed);
    if (parsed.request == Request::Run && maxGiven && parsed.command.operation != Operation::Deskew) {
        return UsageError(words.maxOutsideDeskew);
    }
    return parsed;
}
