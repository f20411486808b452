// lumivex-batch.exe over 40 copies of the A4 1-bit page, rotation and erosion by 10 pixels, with one
// job and with one job per processor, against the same operation called in this process on the
// same 40 files one after the other. Prints files per second, the speed-up and the batch tool's
// own cost per file (process start, expansion, planning, threads, output). Then what the same
// threads gain on work of their own in this process (arithmetic, fresh memory), the reference for
// the speed-ups; eroding the page stored as 8-bit grey against the 1-bit page; and the clean-up of
// a dusty letter scanned 2.3 degrees askew against a quarter turn and against deskew alone.
#include "bench_page.h"
#include "dusty_page.h"
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

// What `jobs` threads gain over one on `work` done 2 x 16 times, each thread taking its share: the
// best of three runs each way.
static double ThreadSpeedUp(int jobs, const std::function<void()>& work)
{
    auto run = [&](int threads) {
        std::vector<double> times;
        for (int round = 0; round < 3; ++round) {
            times.push_back(TimeMs([&] {
                std::vector<std::thread> workers;
                for (int t = 0; t < threads; ++t) {
                    workers.emplace_back([&, t] {
                        for (int i = t; i < 32; i += threads) work();
                    });
                }
                for (std::thread& worker : workers) worker.join();
            }));
        }
        return *std::min_element(times.begin(), times.end());
    };
    double one = run(1);
    return one / run(jobs);
}

// The reference for the speed-ups: arithmetic alone, and memory that is new to the process (4 MB
// allocated, written and freed, as each page's images are).
static void PrintThreadReference(int jobs)
{
    volatile double sink = 0;
    double arithmetic = ThreadSpeedUp(jobs, [&] {
        double x = 1;
        for (int k = 0; k < 4000000; ++k) x = x * 1.0000001 + 1e-9;
        sink = sink + x;
    });
    double memory = ThreadSpeedUp(jobs, [&] {
        std::vector<unsigned char> fresh(4 << 20, 1);
        sink = sink + fresh[12345];
    });
    std::printf("%d threads in this process against 1: arithmetic %.2f x, fresh memory (4 MB written) %.2f x\n", jobs,
                arithmetic, memory);
}

static const int kGreyFiles = 6;

// Eroding the page stored as 8-bit grey (8 times the bytes) against the same page as 1-bit, through
// the batch tool with one job: median of kRounds rounds, each on fresh copies.
static void CompareGreyErosion(const std::string& folder, const std::vector<unsigned char>& page)
{
    std::vector<unsigned char> grey = GreyPageBmp();
    auto fresh = [&](const char* stem, const std::vector<unsigned char>& bytes) {
        for (int i = 0; i < kGreyFiles; ++i) {
            std::string path = folder + "\\" + stem + std::to_string(i) + ".bmp";
            WriteFile(path, bytes);
            DeleteFileA((path.substr(0, path.size() - 4) + "1.bmp").c_str());
        }
    };
    std::vector<double> greyTimes, oneBitTimes;
    for (int round = 0; round < kRounds; ++round) {
        fresh("grey", grey);
        greyTimes.push_back(TimeBatch(folder, "--jobs 1 erode 10 grey?.bmp"));
        fresh("mono", page);
        oneBitTimes.push_back(TimeBatch(folder, "--jobs 1 erode 10 mono?.bmp"));
    }
    double greyMs = Median(greyTimes), oneBitMs = Median(oneBitTimes);
    std::printf("erosion by 10 pixels, lumivex-batch --jobs 1, %d files (median of %d rounds): 8-bit grey %.0f ms,"
                " 1-bit %.0f ms, grey = %.2f x 1-bit\n", kGreyFiles, kRounds, greyMs, oneBitMs, greyMs / oneBitMs);
    for (const char* stem : {"grey", "mono"}) {
        for (int i = 0; i < kGreyFiles; ++i) {
            DeleteFileA((folder + "\\" + stem + std::to_string(i) + ".bmp").c_str());
            DeleteFileA((folder + "\\" + stem + std::to_string(i) + "1.bmp").c_str());
        }
    }
}

static const int kCleanFiles = 6;

// despeckle against a quarter turn and clean against deskew, through the batch tool with one job on
// kCleanFiles copies of the dusty letter of dusty_page.h: median of kRounds interleaved rounds.
static void CompareCleanUp(const std::string& folder)
{
    int stride = (kWidth + 7) / 8;
    std::vector<std::uint8_t> bits = DustyLetter(kWidth, kHeight, stride, 2.3);
    std::vector<unsigned char> page = MonoBmpBytes(kWidth, kHeight, [&](int x, int y) {
        return (bits[static_cast<size_t>(y) * stride + x / 8] >> (7 - x % 8) & 1) != 0;
    });
    const char* verbs[] = {"rotate right", "despeckle", "deskew", "clean"};
    std::vector<double> times[4];
    for (int round = 0; round < kRounds; ++round) {
        for (int verb = 0; verb < 4; ++verb) {
            for (int i = 0; i < kCleanFiles; ++i) {
                std::string path = folder + "\\dusty" + std::to_string(i) + ".bmp";
                WriteFile(path, page);
                DeleteFileA((path.substr(0, path.size() - 4) + "1.bmp").c_str());
            }
            times[verb].push_back(TimeBatch(folder, std::string("--jobs 1 ") + verbs[verb] + " dusty?.bmp"));
        }
    }
    std::printf("clean-up of a dusty letter 2.3 degrees askew, lumivex-batch --jobs 1, %d files (median of %d"
                " rounds):\n", kCleanFiles, kRounds);
    for (int verb = 0; verb < 4; ++verb) {
        std::printf("  %-14s %8.0f ms  %6.0f ms per file\n", verbs[verb], Median(times[verb]),
                    Median(times[verb]) / kCleanFiles);
    }
    std::printf("  despeckle = %.2f x the quarter turn, clean = %.2f x deskew\n", Median(times[1]) / Median(times[0]),
                Median(times[3]) / Median(times[2]));
    for (int i = 0; i < kCleanFiles; ++i) {
        DeleteFileA((folder + "\\dusty" + std::to_string(i) + ".bmp").c_str());
        DeleteFileA((folder + "\\dusty" + std::to_string(i) + "1.bmp").c_str());
    }
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
    PrintThreadReference(jobs);
    CompareGreyErosion(folder, page);
    CompareCleanUp(folder);
    Gdiplus::GdiplusShutdown(token);
    return 0;
}
