// Parsing of the batch tool's command line into an operation, its parameters, the options and the files.
#include "batch/arguments.h"

#include "batch/batch_texts.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>

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
    const char* BatchTexts::*name;
    const char* BatchTexts::*range;
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
    {&BatchTexts::direction, &BatchTexts::directionRange,
     [](const std::string& text, BatchCommand& command) {
         if (text != "right" && text != "left") return false;
         command.angle = text == "right" ? 90 : -90;
         return true;
     }},
};
static const Parameter erodeParameters[] = {
    {&BatchTexts::pixels, &BatchTexts::pixelsRange,
     [](const std::string& text, BatchCommand& command) { return ReadWholeInRange(text, 1, 50, command.passes); }},
};
static const Parameter marginsParameters[] = {
    {&BatchTexts::corner, &BatchTexts::cornerRange, ReadCorner},
    {&BatchTexts::horizontal, &BatchTexts::marginRange,
     [](const std::string& text, BatchCommand& command) {
         return ReadWholeInRange(text, -500, 500, command.horizontalMarginMM);
     }},
    {&BatchTexts::vertical, &BatchTexts::marginRange,
     [](const std::string& text, BatchCommand& command) {
         return ReadWholeInRange(text, -500, 500, command.verticalMarginMM);
     }},
};
static const Parameter scaleParameters[] = {
    {&BatchTexts::x, &BatchTexts::factorRange,
     [](const std::string& text, BatchCommand& command) {
         return ReadDecimalInRange(text, 0.0001, 10, command.factorX);
     }},
    {&BatchTexts::y, &BatchTexts::factorRange,
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
    Syntax("despeckle", Operation::Despeckle),
    Syntax("borders", Operation::Borders),
    Syntax("clean", Operation::Clean),
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
    const BatchTexts& words = ActiveBatchTexts();
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
    const BatchTexts& words = ActiveBatchTexts();
    std::string option = AsciiOrEmpty(arguments[i]);
    if (i + 1 == arguments.size()) return UsageError(words.optionMissing, option, range);
    if (!read(AsciiOrEmpty(arguments[++i]), lowest, highest, value)) {
        return UsageError(words.optionWrong, option, range, Quoted(arguments[i]));
    }
    return std::nullopt;
}

ParsedCommand ParseArguments(const std::vector<std::wstring>& arguments)
{
    const BatchTexts& words = ActiveBatchTexts();
    ParsedCommand parsed;
    std::vector<std::wstring> positional;
    bool options = true, maxGiven = false, sizeGiven = false;
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
        } else if (argument == L"--size") {
            error = ReadOptionNumber(arguments, i, words.sizeRange, ReadWholeInRange, 1, 10000,
                                     parsed.command.speckPixels);
            sizeGiven = true;
        } else {
            return UsageError(words.unknownOption, Quoted(argument));
        }
        if (error) return *error;
    }
    parsed = ParsePositional(positional, parsed);
    Operation operation = parsed.command.operation;
    if (parsed.request == Request::Run && maxGiven && operation != Operation::Deskew && operation != Operation::Clean) {
        return UsageError(words.maxOutsideDeskew);
    }
    if (parsed.request == Request::Run && sizeGiven && operation != Operation::Despeckle && operation != Operation::Clean) {
        return UsageError(words.sizeOutsideDespeckle);
    }
    return parsed;
}
