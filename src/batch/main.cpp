// Entry point of lumivex-batch.exe: the window's four operations over many files from a command prompt.
#include "batch/arguments.h"
#include "batch/batch_texts.h"
#include "batch/files.h"
#include "batch/output.h"
#include "batch/run.h"
#include "messages/texts.h"
#include "imaging/gdiplus_api.h"
#include "version.h"

#include <shellapi.h>

#include <algorithm>
#include <memory>
#include <thread>

// The arguments after the program name, in UTF-16: the ANSI command line would turn characters
// outside the code page into "?", which is a wildcard here.
static std::vector<std::wstring> CommandArguments()
{
    int count = 0;
    std::unique_ptr<LPWSTR, decltype(&LocalFree)> arguments(CommandLineToArgvW(GetCommandLineW(), &count),
                                                            &LocalFree);
    if (!arguments) return {};
    return std::vector<std::wstring>(arguments.get() + std::min(count, 1), arguments.get() + count);
}

static int DefaultJobs()
{
    return static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 64u));
}

static int Run(BatchCommand command)
{
    if (command.jobs == 0) command.jobs = DefaultJobs();
    StopOnConsoleControl();
    Gdiplus::GdiplusStartupInput startupInput;
    ULONG_PTR gdiplusToken = 0;
    Gdiplus::GdiplusStartup(&gdiplusToken, &startupInput, nullptr);
    ExpandedFiles expanded = ExpandFiles(command.files, ActiveBatchTexts().noMatch, command.includeBackups);
    size_t succeeded = RunBatch(command, expanded.files, expanded.backupsLeftOut);
    Gdiplus::GdiplusShutdown(gdiplusToken);
    return succeeded == expanded.files.size() ? 0 : 1;
}

int main()
{
    SetupLanguage();
    ParsedCommand parsed = ParseArguments(CommandArguments());
    switch (parsed.request) {
    case Request::Help:
        WriteLine(Stream::Output, Widen(ActiveBatchTexts().usage));
        return 0;
    case Request::Version:
        WriteLine(Stream::Output, L"lumivex-batch " LUMIVEX_VERSION_WTEXT);
        return 0;
    case Request::UsageError:
        WriteLine(Stream::Error, Widen("lumivex-batch: " + parsed.error + "\n" + ActiveBatchTexts().seeHelp));
        return 2;
    case Request::Run: break;
    }
    return Run(parsed.command);
}
