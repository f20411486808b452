// The batch run: each file goes through the window's own extension test and operation on a worker
// thread; the operation's message boxes become that file's lines, printed in the files' order.
#include "batch/run.h"

#include "batch/batch_texts.h"
#include "batch/output.h"
#include "core/dispatch.h"
#include "imaging/file_calls.h"
#include "imaging/operations.h"
#include "imaging/page_files.h"
#include "messages/report.h"
#include "messages/texts.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <numeric>
#include <optional>
#include <thread>

static std::atomic<bool> stopRequested{false};
static HANDLE runFinished = CreateEventA(nullptr, TRUE, FALSE, nullptr);

static BOOL WINAPI OnConsoleControl(DWORD event)
{
    stopRequested = true;
    // After these the system ends the process as soon as the handler returns: hold it until the
    // files in progress are saved and the summary is written (the system waits a few seconds).
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
        WaitForSingleObject(runFinished, INFINITE);
    }
    return TRUE;
}

void StopOnConsoleControl()
{
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

// One message an operation showed: its text, and whether it was a success (the information icon).
struct Report {
    std::string text;
    bool success;
};

// The reports of the file the calling thread is processing; the message seam is redirected here.
static thread_local std::vector<Report>* collected = nullptr;

static int CollectMessage(HWND, const char* text, const char* caption, UINT type)
{
    std::string shown = text ? text : "";
    bool success = (type & MB_ICONMASK) == MB_ICONINFORMATION;
    if (collected) collected->push_back({shown, success});
    else WriteLine(Stream::Error, Widen(std::string(caption ? caption : "") + ": " + shown));
    return IDOK;
}

// The window's page whose extension test and warning an operation takes; deskew, the clean-up and
// check take images as rotation does.
static Page PageOf(Operation operation)
{
    switch (operation) {
    case Operation::Erode: return ErosionPage;
    case Operation::Margins: return MarginsPage;
    case Operation::Scale: return ScalePage;
    default: return RotationPage;
    }
}

// The window's four operations through the window's own table; the batch tool's own beside them.
static void CallOperation(const BatchCommand& command, const char* path)
{
    switch (command.operation) {
    case Operation::Rotate: operations.rotate(path, command.angle); break;
    case Operation::Erode: operations.erode(path, command.passes); break;
    case Operation::Margins:
        operations.adjustMargins(path, command.corner, command.horizontalMarginMM, command.verticalMarginMM);
        break;
    case Operation::Scale: operations.scale(path, command.factorX, command.factorY); break;
    case Operation::Deskew: DeskewImage(path, command.maxDegrees); break;
    case Operation::Despeckle: DespeckleImage(path, command.speckPixels); break;
    case Operation::Borders: RemoveBlackEdges(path); break;
    case Operation::Clean: CleanImage(path, command.maxDegrees, command.speckPixels); break;
    case Operation::Check: CheckImage(path); break;
    }
}

// The system's own words for a file call's error, in the system's language, on one line.
static std::string SystemDescription(DWORD error)
{
    char* text = nullptr;
    DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                      FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::unique_ptr<char, decltype(&LocalFree)> owner(text, &LocalFree);
    std::string description = length ? std::string(text, length) : "error " + std::to_string(error);
    for (char& c : description) {
        if (c == '\r' || c == '\n') c = ' ';
    }
    description.erase(description.find_last_not_of(' ') + 1);
    return description;
}

static std::vector<Report> Process(const BatchCommand& command, const BatchFile& file)
{
    if (file.refusal) return {{file.refusal, false}};
    if (const char* warning = PageWarning(PageOf(command.operation), file.path.c_str())) return {{warning, false}};
    // A page that a run killed inside its replace left set aside comes back before an operation that
    // may write; the check only names it.
    if (command.operation != Operation::Check) PutBackSetAsidePage(file.path.c_str());
    std::vector<Report> reports;
    collected = &reports;
    ForgetFileError();
    CallOperation(command, file.path.c_str());
    collected = nullptr;
    // Every operation reports its outcome; silence would be no proof of success.
    if (reports.empty()) reports.push_back({texts->msgProcessingError, false});
    // A failure that a file call caused says why, in the system's words.
    if (DWORD error = LastFileError()) {
        for (Report& report : reports) {
            if (!report.success) report.text += " (" + SystemDescription(error) + ")";
        }
    }
    return reports;
}

static std::string Upper(std::string text)
{
    if (!text.empty()) CharUpperBuffA(&text[0], static_cast<DWORD>(text.size()));
    return text;
}

std::vector<std::vector<size_t>> PlanUnits(const std::vector<BatchFile>& files)
{
    std::vector<size_t> parent(files.size());  // files joined into one unit lead to the same root
    std::iota(parent.begin(), parent.end(), size_t{0});
    auto root = [&](size_t i) {
        while (parent[i] != i) i = parent[i] = parent[parent[i]];
        return i;
    };
    // Files whose planned backup name another file takes first move on to later names of their own.
    std::vector<std::string> backups(files.size());
    std::vector<bool> movable(files.size());
    std::map<std::string, size_t> filesByPath, filesByBackup;
    for (size_t i = 0; i < files.size(); ++i) {
        if (files[i].refusal) continue;
        filesByPath.emplace(Upper(files[i].path), i);
        char backup[MAX_PATH];
        GetBackupFilename(files[i].path.c_str(), backup, MAX_PATH);
        backups[i] = backup;
        if (backups[i].empty()) continue;
        auto [planned, first] = filesByBackup.emplace(Upper(backup), i);
        if (!first) {
            parent[root(i)] = root(planned->second);
            movable[i] = movable[planned->second] = true;
        }
    }
    // A file whose planned name lies on the way of a file that may move joins it, and may move too.
    for (bool joined = true; joined;) {
        joined = false;
        for (size_t k = 0; k < files.size(); ++k) {
            if (backups[k].empty()) continue;
            for (const std::string& page : PagesBackedUpAs(backups[k].c_str())) {
                auto found = filesByPath.find(Upper(page));
                if (found == filesByPath.end() || !movable[found->second] || root(found->second) == root(k)) continue;
                parent[root(k)] = root(found->second);
                movable[k] = joined = true;
            }
        }
    }
    std::vector<std::vector<size_t>> units;
    std::map<size_t, size_t> unitOfRoot;
    for (size_t i = 0; i < files.size(); ++i) {
        auto [unit, fresh] = unitOfRoot.emplace(root(i), units.size());
        if (fresh) units.emplace_back();
        units[unit->second].push_back(i);
    }
    return units;
}

// What the workers share with the thread that prints.
struct Progress {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::optional<std::vector<Report>>> outcomes;  // by file, once processed
    size_t working = 0;                                        // workers not yet finished
};

static void Work(const BatchCommand& command, const std::vector<BatchFile>& files,
                 const std::vector<std::vector<size_t>>& units, std::atomic<size_t>& nextUnit, Progress& progress)
{
    for (size_t unit = nextUnit++; unit < units.size() && !stopRequested; unit = nextUnit++) {
        for (size_t index : units[unit]) {
            if (stopRequested) break;
            std::vector<Report> reports = Process(command, files[index]);
            std::lock_guard<std::mutex> lock(progress.mutex);
            progress.outcomes[index] = std::move(reports);
            progress.changed.notify_all();
        }
    }
    std::lock_guard<std::mutex> lock(progress.mutex);
    --progress.working;
    progress.changed.notify_all();
}

// Each report on its own line: "[i/N] PATH: text", the text's line breaks shown as spaces.
static bool PrintReports(size_t index, size_t count, const BatchFile& file, const std::vector<Report>& reports)
{
    bool succeeded = true;
    for (const Report& report : reports) {
        std::wstring line = count > 1 ? L"[" + std::to_wstring(index + 1) + L"/" + std::to_wstring(count) + L"] " : L"";
        line += file.shown + L": ";
        for (wchar_t c : Widen(report.text)) line += c == L'\n' ? L' ' : c;
        WriteLine(report.success ? Stream::Output : Stream::Error, line);
        succeeded = succeeded && report.success;
    }
    return succeeded;
}

// After a stop, the count and then each file not processed on its own line, as it was named, so
// that the run can be resumed with exactly those.
static void PrintNotProcessed(const std::vector<BatchFile>& files, const std::vector<bool>& processed)
{
    std::wstring lines;
    for (size_t i = 0; i < files.size(); ++i) {
        if (!processed[i]) lines += L"\n" + files[i].shown;
    }
    if (lines.empty()) return;
    char line[128];
    int count = static_cast<int>(std::count(processed.begin(), processed.end(), false));
    std::snprintf(line, sizeof line, ActiveBatchTexts().notProcessed, count);
    WriteLine(Stream::Error, Widen(line) + lines);
}

static void PrintSummary(size_t count, size_t succeeded, size_t failed, int backupsLeftOut)
{
    char line[128], leftOut[64] = "";
    std::snprintf(line, sizeof line, ActiveBatchTexts().summary, static_cast<int>(count), static_cast<int>(succeeded),
                  static_cast<int>(failed));
    if (backupsLeftOut > 0) std::snprintf(leftOut, sizeof leftOut, ActiveBatchTexts().backupsLeftOut, backupsLeftOut);
    WriteLine(Stream::Output, Widen(line) + (backupsLeftOut > 0 ? L", " + Widen(leftOut) : L""));
}

size_t RunBatch(const BatchCommand& command, const std::vector<BatchFile>& files, int backupsLeftOut)
{
    std::vector<std::vector<size_t>> units = PlanUnits(files);
    Progress progress;
    progress.outcomes.resize(files.size());
    progress.working = std::min(static_cast<size_t>(command.jobs), units.size());
    std::atomic<size_t> nextUnit{0};
    MessageBoxFunction previous = RedirectMessages(CollectMessage);
    std::vector<std::thread> workers;
    for (size_t i = 0; i < progress.working; ++i) {
        workers.emplace_back(Work, std::cref(command), std::cref(files), std::cref(units), std::ref(nextUnit),
                             std::ref(progress));
    }
    size_t succeeded = 0, failed = 0;
    std::vector<bool> processed(files.size(), false);
    for (size_t i = 0; i < files.size(); ++i) {
        std::unique_lock<std::mutex> lock(progress.mutex);
        progress.changed.wait(lock, [&] { return progress.outcomes[i] || progress.working == 0; });
        if (!progress.outcomes[i]) continue;  // stopped before it was started
        std::vector<Report> reports = std::move(*progress.outcomes[i]);
        lock.unlock();
        processed[i] = true;
        ++(PrintReports(i, files.size(), files[i], reports) ? succeeded : failed);
    }
    for (std::thread& worker : workers) worker.join();
    RedirectMessages(previous);
    PrintNotProcessed(files, processed);
    PrintSummary(files.size(), succeeded, failed, backupsLeftOut);
    SetEvent(runFinished);
    return succeeded;
}
