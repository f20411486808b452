// The batch tool's command line: the operation with its parameters, the options and the file arguments.
// Every parameter is checked against the window's limits; nothing out of range is clamped.
#pragma once

#include "imaging/kernels/margins.h"

#include <string>
#include <vector>

enum class Operation { Rotate, Erode, Margins, Scale, Deskew, Despeckle, Borders, Clean, Check };

struct BatchCommand {
    Operation operation = Operation::Rotate;
    int angle = 90;              // 90 or -90
    int passes = 1;              // 1 to 50
    Corner corner = BottomRight;
    int horizontalMarginMM = 0;  // tenths of a millimetre, -500 to 500
    int verticalMarginMM = 0;
    double factorX = 1.0;        // 0.0001 to 10
    double factorY = 1.0;
    double maxDegrees = 5;       // deskew's and clean's --max: 0.1 to 10
    int speckPixels = 0;         // despeckle's and clean's --size: 1 to 10000; 0 for the default
    int jobs = 0;                // 1 to 64; 0 until chosen from the number of processors
    bool includeBackups = false; // patterns also take the numbered backups of the files they match
    std::vector<std::wstring> files;  // as given: names or patterns
};

enum class Request { Run, Help, Version, UsageError };

struct ParsedCommand {
    Request request = Request::UsageError;
    BatchCommand command;
    std::string error;  // for a usage error: what is wrong, naming the parameter and its range
};

// Reads the arguments after the program name. Options ("--jobs N", "--include-backups", "--max
// DEGREES" for deskew and clean only, "--size PIXELS" for despeckle and clean only, "--help", "--version") may stand anywhere before a "--", after which
// every argument is a file.
ParsedCommand ParseArguments(const std::vector<std::wstring>& arguments);
