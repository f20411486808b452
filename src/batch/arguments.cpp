// Parsing of the batch tool's command line into an operation, its parameters, the options and the files.
#include "batch/arguments.h"

#include <algorithm>
#include <cstdlib>

const char* const usageText =
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
    "file succeeded, 1 when any failed, 2 for a mistake in the command.";

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
static bool ReadDecimalInRange(std::string text, double lowest, double highest, double& value)
{
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

// One value of an operation: its name in the usage, what it must be, and how it is read.
struct Parameter {
    const char* name;
    const char* range;
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

static const char* const marginRange = "a whole number of tenths of a millimetre from -500 to 500";
static const char* const factorRange = "a number from 0.0001 to 10, with \".\" or \",\" as the decimal mark";
static const char* const maxRange = "a number of degrees from 0.1 to 10, with \".\" or \",\" as the decimal mark";

static const Parameter rotateParameters[] = {
    {"the direction", "right or left",
     [](const std::string& text, BatchCommand& command) {
         if (text != "right" && text != "left") return false;
         command.angle = text == "right" ? 90 : -90;
         return true;
     }},
};
static const Parameter erodeParameters[] = {
    {"PIXELS", "a whole number from 1 to 50",
     [](const std::string& text, BatchCommand& command) { return ReadWholeInRange(text, 1, 50, command.passes); }},
};
static const Parameter marginsParameters[] = {
    {"the corner", "top-left, top-right, bottom-left or bottom-right", ReadCorner},
    {"HORIZONTAL", marginRange,
     [](const std::string& text, BatchCommand& command) {
         return ReadWholeInRange(text, -500, 500, command.horizontalMarginMM);
     }},
    {"VERTICAL", marginRange,
     [](const std::string& text, BatchCommand& command) {
         return ReadWholeInRange(text, -500, 500, command.verticalMarginMM);
     }},
};
static const Parameter scaleParameters[] = {
    {"X", factorRange,
     [](const std::string& text, BatchCommand& command) {
         return ReadDecimalInRange(text, 0.0001, 10, command.factorX);
     }},
    {"Y", factorRange,
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

static const char* const operationNames = "(rotate, erode, margins, scale, deskew or check)";

static ParsedCommand UsageError(const std::string& error)
{
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
    if (positional.empty()) return UsageError(std::string("no operation given ") + operationNames);
    const OperationSyntax* syntax = nullptr;
    for (const OperationSyntax& candidate : operationSyntaxes) {
        if (AsciiOrEmpty(positional[0]) == candidate.name) syntax = &candidate;
    }
    if (!syntax) return UsageError("unknown operation " + Quoted(positional[0]) + " " + operationNames);
    parsed.command.operation = syntax->operation;
    for (size_t i = 0; i < syntax->count; ++i) {
        const Parameter& parameter = syntax->parameters[i];
        if (i + 1 >= positional.size()) {
            return UsageError(std::string(syntax->name) + ": " + parameter.name + " is missing: " + parameter.range);
        }
        if (!parameter.read(AsciiOrEmpty(positional[i + 1]), parsed.command)) {
            return UsageError(std::string(syntax->name) + ": " + parameter.name + " must be " + parameter.range +
                              ", not " + Quoted(positional[i + 1]));
        }
    }
    parsed.command.files.assign(positional.begin() + 1 + static_cast<long>(syntax->count), positional.end());
    if (parsed.command.files.empty()) return UsageError(std::string(syntax->name) + ": no FILE given");
    parsed.request = Request::Run;
    return parsed;
}

ParsedCommand ParseArguments(const std::vector<std::wstring>& arguments)
{
    ParsedCommand parsed;
    std::vector<std::wstring> positional;
    bool options = true, maxGiven = false;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::wstring& argument = arguments[i];
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
            if (i + 1 == arguments.size()) return UsageError("--jobs is missing its number: a whole number from 1 to 64");
            if (!ReadWholeInRange(AsciiOrEmpty(arguments[++i]), 1, 64, parsed.command.jobs)) {
                return UsageError("--jobs must be a whole number from 1 to 64, not " + Quoted(arguments[i]));
            }
        } else if (argument == L"--max") {
            if (i + 1 == arguments.size()) return UsageError("--max is missing its number: " + std::string(maxRange));
            if (!ReadDecimalInRange(AsciiOrEmpty(arguments[++i]), 0.1, 10, parsed.command.maxDegrees)) {
                return UsageError("--max must be " + std::string(maxRange) + ", not " + Quoted(arguments[i]));
            }
            maxGiven = true;
        } else {
            return UsageError("unknown option " + Quoted(argument));
        }
    }
    parsed = ParsePositional(positional, parsed);
    if (parsed.request == Request::Run && maxGiven && parsed.command.operation != Operation::Deskew) {
        return UsageError("--max is an option of deskew only");
    }
    return parsed;
}
