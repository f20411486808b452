// lumivex-batch.exe over 40 copies of the A4 1-bit page, rotation and erosion by 10 pixels, with one
// job and with one job per processor, against the same operation called in this process on the
// same 40 files one after the other. Prints files per second, the speed-up and the batch tool's
// own cost per file (process start, expansion, planning, threads, output).
#include "bench_page.h"
#include "imaging/operations.h"

#include <cstdio>
#include <functional>
#include <thread>

static const int kFiles = 40;

static std::string FileName(const std::string& folder, int index)
{
    char name[32];
    std::snprintf(name, sizeof name, "\\page%02d.bmp", index);
    return folder + name;
}

// Fresh copies of the page and no backups, as before a user's first run.
static void FreshPages(const std::string& folder, const std::vector<unsigned char>& page)
{
    for (int i = 0; i < kFiles; ++i) {
        WriteFile(FileName(folder, i), page);
        std::string backup = FileName(folder, i);
        backup.insert(backup.size() - 4, "1");
        DeleteFileA(backup.c_str());
    }
}

static double TimeInProcess(const std::string& folder, const std::function<void(const char*)>& operation)
{
    return TimeMs([&] {
        for (int i = 0; i < kFiles; ++i) operation(FileName(folder, i).c_str());
    });
}

// Runs the batch tool in `folder`; its lines go to NUL. Returns the wall time.
static double TimeBatch(const std::string& folder, const std::string& arguments)
{
    std::string executable = LUMIVEX_BATCH_EXE;
    std::replace(executable.begin(), executable.end(), '/', '\\');
    std::string commandLine = "\"" + executable + "\" " + arguments;
    SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
    HANDLE nul = CreateFileA("NUL", GENERIC_WRITE, FILE_SHARE_WRITE, &inherited, OPEN_EXISTING, 0, nullptr);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = startup.hStdError = nul;
    PROCESS_INFORMATION process{};
    DWORD status = 99;
    double elapsed = TimeMs([&] {
        if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, folder.c_str(), &startup,
                            &process)) {
            return;
        }
        WaitForSingleObject(process.hProcess, INFINITE);
        GetExitCodeProcess(process.hProcess, &status);
    });
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    CloseHandle(nul);
    if (status != 0) std::printf("  (%s ended with status %lu)\n", arguments.c_str(), status);
    return elapsed;
}

static const int kRounds = 3;

// Median of kRounds interleaved rounds of the three ways, so that a busy machine slows them alike.
static void Compare(const char* what, const std::string& folder, const std::vector<unsigned char>& page,
                    const std::function<void(const char*)>& operation, const std::string& arguments, int jobs,
                    double start)
{
    std::vector<double> alone, one, many;
    for (int round = 0; round < kRounds; ++round) {
        FreshPages(folder, page);
        alone.push_back(TimeInProcess(folder, operation));
        FreshPages(folder, page);
        one.push_back(TimeBatch(folder, "--jobs 1 " + arguments + " page*.bmp"));
        FreshPages(folder, page);
        many.push_back(TimeBatch(folder, "--jobs " + std::to_string(jobs) + " " + arguments + " page*.bmp"));
    }
    double aloneMs = Median(alone), oneMs = Median(one), manyMs = Median(many);
    std::printf("%s, %d files (median of %d rounds):\n", what, kFiles, kRounds);
    std::printf("  operation alone, in process  %8.0f ms  %6.2f files/s\n", aloneMs, kFiles * 1000 / aloneMs);
    std::printf("  lumivex-batch --jobs 1       %8.0f ms  %6.2f files/s  overhead %+.1f ms per file (%+.1f%%),"
                " %+.1f ms per file after the process start\n",
                oneMs, kFiles * 1000 / oneMs, (oneMs - aloneMs) / kFiles, 100 * (oneMs - aloneMs) / aloneMs,
                (oneMs - start - aloneMs) / kFiles);
    std::printf("  lumivex-batch --jobs %-2d      %8.0f ms  %6.2f files/s  speed-up %.2f over --jobs 1\n", jobs,
                manyMs, kFiles * 1000 / manyMs, oneMs / manyMs);
}

int main()
{
    ULONG_PTR token = StartBench();
    std::string folder = BenchFolder("lumivex-batch-bench");
    std::vector<unsigned char> page = PageBmp();
    int jobs = static_cast<int>(std::max(1u, std::min(64u, std::thread::hardware_concurrency())));
    std::vector<double> starts;
    for (int round = 0; round < kRounds; ++round) starts.push_back(TimeBatch(folder, "--version"));
    double start = Median(starts);
    std::printf("A4 page %dx%d, 1-bit BMP at 600 DPI; %d processors; lumivex-batch --version takes %.0f ms"
                " (process start and end)\n", kWidth, kHeight, jobs, start);
    Compare("rotation", folder, page, [](const char* path) { RotateImage(path, 90); }, "rotate right", jobs, start);
    Compare("erosion by 10 pixels", folder, page, [](const char* path) { ErodeImage(path, 10); }, "erode 10", jobs,
            start);
    Gdiplus::GdiplusShutdown(token);
    return 0;
}
