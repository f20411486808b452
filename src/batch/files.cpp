// Expansion of the file arguments: the program matches patterns itself so that cmd.exe, PowerShell and
// a Linux shell through Wine all give the same files; names are read in UTF-16 and handed on in ANSI.
#include "batch/files.h"

#include "core/ansi_path.h"
#include "imaging/page_files.h"

#include "messages/texts.h"

#include <windows.h>

#include <algorithm>
#include <memory>
#include <set>
#include <type_traits>

struct FindCloser {
    void operator()(HANDLE find) const { FindClose(find); }
};
using FindPtr = std::unique_ptr<std::remove_pointer_t<HANDLE>, FindCloser>;

struct HandleClose {
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using HandlePtr = std::unique_ptr<std::remove_pointer_t<HANDLE>, HandleClose>;

// Where the last part of a path begins: after its last "\", "/" or drive colon.
static size_t NameStart(const std::wstring& path)
{
    size_t separator = path.find_last_of(L"\\/:");
    return separator == std::wstring::npos ? 0 : separator + 1;
}

static bool HasWildcard(const std::wstring& path)
{
    return path.find_first_of(L"*?", NameStart(path)) != std::wstring::npos;
}

// Letter case is compared the way the file system compares names, the same in every locale.
static bool SameLetter(wchar_t a, wchar_t b)
{
    return a == b || CompareStringOrdinal(&a, 1, &b, 1, TRUE) == CSTR_EQUAL;
}

// `*` matches any run of characters, `?` exactly one. Only the characters of the name count, so
// "*.bmp" takes no "page.bmpx", whatever short name the file system keeps for it.
static bool Matches(const wchar_t* pattern, const wchar_t* name)
{
    const wchar_t* star = nullptr;
    const wchar_t* starName = nullptr;
    while (*name) {
        if (*pattern == L'*') {
            star = pattern++;
            starName = name;
        } else if (*pattern && (*pattern == L'?' || SameLetter(*pattern, *name))) {
            ++pattern;
            ++name;
        } else if (star) {
            pattern = star + 1;  // let the last star take one character more
            name = ++starName;
        } else {
            return false;
        }
    }
    while (*pattern == L'*') ++pattern;
    return *pattern == 0;
}

static bool NameOrder(const std::wstring& a, const std::wstring& b)
{
    int order = CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE);
    return order == CSTR_EQUAL ? a < b : order == CSTR_LESS_THAN;
}

// The files (not folders) of the pattern's folder whose names match its last part, in name order,
// each with the folder part as it was typed.
static std::vector<std::wstring> Expand(const std::wstring& pattern)
{
    std::wstring folder = pattern.substr(0, NameStart(pattern));
    std::wstring namePattern = pattern.substr(folder.size());
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW entry;
    HANDLE first = FindFirstFileW((folder + L"*").c_str(), &entry);
    if (first == INVALID_HANDLE_VALUE) return names;
    FindPtr find(first);
    do {
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && Matches(namePattern.c_str(), entry.cFileName)) {
            names.push_back(entry.cFileName);
        }
    } while (FindNextFileW(find.get(), &entry));
    std::sort(names.begin(), names.end(), NameOrder);
    for (std::wstring& name : names) name = folder + name;
    return names;
}

static bool IsFile(const std::wstring& path)
{
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

static std::wstring FullPath(const std::wstring& path)
{
    DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (size == 0) return path;
    std::wstring full(size, L'\0');
    DWORD length = GetFullPathNameW(path.c_str(), size, &full[0], nullptr);
    full.resize(length < size ? length : 0);
    return full.empty() ? path : full;
}

// What identifies a file however it is named: its volume and file index, else its full path.
static std::wstring Identity(const std::wstring& fullPath)
{
    HANDLE opened = CreateFileW(fullPath.c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
    HandlePtr file(opened == INVALID_HANDLE_VALUE ? nullptr : opened);
    BY_HANDLE_FILE_INFORMATION information;
    if (file && GetFileInformationByHandle(file.get(), &information)) {
        return std::to_wstring(information.dwVolumeSerialNumber) + L":" +
               std::to_wstring((static_cast<unsigned long long>(information.nFileIndexHigh) << 32) |
                               information.nFileIndexLow);
    }
    std::wstring upper = fullPath;
    CharUpperBuffW(&upper[0], static_cast<DWORD>(upper.size()));
    return upper;
}

static std::string Upper(std::string text)
{
    if (!text.empty()) CharUpperBuffA(&text[0], static_cast<DWORD>(text.size()));
    return text;
}

// The entries among `files` (one pattern's matches) that are numbered backups of another of them.
static std::vector<bool> NumberedBackups(const std::vector<BatchFile>& files)
{
    std::set<std::string> matched;
    for (const BatchFile& file : files) matched.insert(Upper(file.path));
    std::vector<bool> backups(files.size(), false);
    for (size_t i = 0; i < files.size(); ++i) {
        for (const std::string& page : PagesBackedUpAs(files[i].path.c_str())) {
            backups[i] = backups[i] || matched.count(Upper(page)) > 0;
        }
    }
    return backups;
}

ExpandedFiles ExpandFiles(const std::vector<std::wstring>& arguments, const char* noMatchText, bool includeBackups)
{
    ExpandedFiles expanded;
    std::set<std::wstring> seen, leftOut;
    for (const std::wstring& argument : arguments) {
        bool pattern = HasWildcard(argument);
        std::vector<std::wstring> names = pattern ? Expand(argument) : std::vector<std::wstring>{argument};
        std::vector<BatchFile> matches;
        for (const std::wstring& name : names) {
            std::wstring fullPath = FullPath(name);
            BatchFile file{name, "", nullptr};
            if (ToAnsiPath(fullPath, file.path)) {
                // A page named again after a run was killed inside its replace is still the user's
                // page: the run puts it back, or the check names where it is.
                char aside[MAX_PATH];
                if (!IsFile(fullPath) && (pattern || !FindSetAsidePage(file.path.c_str(), aside))) continue;
            } else {
                file.refusal = texts->msgProcessingError;
            }
            matches.push_back(file);
        }
        if (matches.empty()) expanded.files.push_back({argument, "", noMatchText});
        std::vector<bool> backups = NumberedBackups(matches);
        for (size_t i = 0; i < matches.size(); ++i) {
            const BatchFile& file = matches[i];
            std::wstring identity = file.refusal ? L"" : Identity(FullPath(file.shown));
            if (pattern && !includeBackups && backups[i]) {
                if (!seen.count(identity)) leftOut.insert(identity);
            } else if (file.refusal || seen.insert(identity).second) {
                leftOut.erase(identity);
                expanded.files.push_back(file);
            }
        }
    }
    expanded.backupsLeftOut = static_cast<int>(leftOut.size());
    return expanded;
}
