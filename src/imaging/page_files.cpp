// Files beside the page: each is written under a hidden temporary name, flushed to the disk and only
// then given its name, so that a power cut or a killed process never leaves a cut file under a name
// the user trusts; and the names of the numbered backups.
#include "imaging/page_files.h"

#include "imaging/file_calls.h"

#include <shlwapi.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

void DeleteTemporary::operator()(const char* path) const
{
    Files().deleteFile(path);
}

FileHandle Opened(HANDLE file)
{
    return FileHandle(file == INVALID_HANDLE_VALUE ? nullptr : file);
}

FileHandle OpenForReading(const char* path)
{
    return Opened(Files().createFile(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

bool ReadHead(const char* path, std::uint8_t* head, std::size_t size, std::uint64_t& length)
{
    FileHandle file = OpenForReading(path);
    LARGE_INTEGER stated{};
    DWORD got = 0;
    if (!file || !GetFileSizeEx(file.get(), &stated) ||
        !Files().readFile(file.get(), head, static_cast<DWORD>(size), &got, nullptr) || got != size) {
        return false;
    }
    length = static_cast<std::uint64_t>(stated.QuadPart);
    return true;
}

// Temporary names say whose unfinished work they are: "~page.png.1A2B.lumivex" beside page.png, and
// "~page.png.1A2B.lumivex-original" for the page's own content while the replace moves it aside. Where
// the folder leaves no room for that, "~1A2B": never longer than the shortest backup name ("1.png"),
// so a temporary name fits wherever the backup's does. Only the long form is swept as a leftover, or
// put back: a short one cannot be told from another page's work in progress.
constexpr char kWorkSuffix[] = ".lumivex";
constexpr char kAsideSuffix[] = ".lumivex-original";
constexpr size_t kNumberLength = 4;
constexpr size_t kShortNameLength = 1 + kNumberLength;

// What the long form adds to the page's name: "~", ".", the number and the suffix.
static size_t NamedExtraLength(const char* suffix)
{
    return 2 + kNumberLength + std::strlen(suffix);
}

// The attributes a page's backup and its result take from it.
constexpr DWORD kCarriedAttributes =
    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

static size_t FolderLength(const char* full)
{
    return static_cast<size_t>(PathFindFileNameA(full) - full);  // with its separator
}

bool ReadWholeFile(const char* path, std::vector<std::uint8_t>& bytes)
{
    FileHandle file = OpenForReading(path);
    LARGE_INTEGER length{};
    if (!file || !GetFileSizeEx(file.get(), &length) || length.QuadPart > kMaxWholeFileBytes) return false;
    bytes.resize(static_cast<std::size_t>(length.QuadPart));
    DWORD got = 0;
    return Files().readFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr) &&
           got == bytes.size();
}

bool FullPathForSave(const char* path, char* full)
{
    DWORD length = GetFullPathNameA(path, MAX_PATH, full, nullptr);
    return length != 0 && length < MAX_PATH && FolderLength(full) + kShortNameLength < MAX_PATH;
}

static bool Exists(const char* path)
{
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

bool CanReplace(const char* full)
{
    DWORD attributes = GetFileAttributesA(full);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY))) {
        return false;
    }
    // The access a replace needs, asked while letting everyone else do anything: refused only when
    // another program holds the page against it.
    return Opened(Files().createFile(full, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                     OPEN_EXISTING, 0, nullptr)) != nullptr;
}

// Numbers of temporary names, different in each process and for each file, so that a run never
// reuses a name another process may still be writing.
static std::atomic<unsigned> nextNumber{GetTickCount() ^ (GetCurrentProcessId() << 7)};

// A temporary name beside `full` with the next number; the long form where it fits.
static void TemporaryName(const char* full, char* temporary, const char* suffix = kWorkSuffix)
{
    size_t folderLength = FolderLength(full);
    const char* name = full + folderLength;
    unsigned number = nextNumber++ & 0xFFFF;
    if (folderLength + std::strlen(name) + NamedExtraLength(suffix) < MAX_PATH) {
        std::snprintf(temporary, MAX_PATH, "%.*s~%s.%04X%s", static_cast<int>(folderLength), full, name, number,
                      suffix);
    } else {
        std::snprintf(temporary, MAX_PATH, "%.*s~%04X", static_cast<int>(folderLength), full, number);
    }
}

// Creates a new hidden temporary file beside `full`, open for writing. It is created only where no
// file is, so nothing of the user's is ever replaced by it.
static FileHandle CreateTemporary(const char* full, char* temporary)
{
    for (unsigned tries = 0; tries <= 0xFFFF; ++tries) {
        TemporaryName(full, temporary);
        HANDLE file = Files().createFile(temporary, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                         FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_TEMPORARY, nullptr);
        if (file != INVALID_HANDLE_VALUE) return Opened(file);
        if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) break;
        ForgetFileError();  // a name another run holds: the next number is tried
    }
    return nullptr;
}

// Calls `use` with the full path of each long-form temporary file of the page at `full` that ends in
// `suffix`.
static void ForEachLeftover(const char* full, const char* suffix, const std::function<void(const char*)>& use)
{
    size_t folderLength = FolderLength(full);
    const char* name = full + folderLength;
    char pattern[MAX_PATH];
    int length = std::snprintf(pattern, sizeof pattern, "%.*s~%s.????%s", static_cast<int>(folderLength), full, name,
                               suffix);
    if (length < 0 || length >= MAX_PATH) return;
    WIN32_FIND_DATAA found;
    HANDLE search = Files().findFirstFile(pattern, &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        // "?" may also match nothing: only names of exactly the program's form are its leftovers.
        if (std::strlen(found.cFileName) != std::strlen(name) + NamedExtraLength(suffix)) continue;
        char leftover[MAX_PATH];
        std::snprintf(leftover, sizeof leftover, "%.*s%s", static_cast<int>(folderLength), full, found.cFileName);
        use(leftover);
    } while (Files().findNextFile(search, &found));
    FindClose(search);
}

void RemoveLeftovers(const char* full)
{
    if (!Exists(full)) return;
    for (const char* suffix : {kWorkSuffix, kAsideSuffix}) {
        ForEachLeftover(full, suffix, [](const char* leftover) { Files().deleteFile(leftover); });
    }
}

void PutBackSetAsidePage(const char* full)
{
    ForEachLeftover(full, kAsideSuffix, [&](const char* aside) {
        if (!Exists(full)) Files().moveFile(aside, full, MOVEFILE_WRITE_THROUGH);
    });
}

bool FindSetAsidePage(const char* full, char* aside)
{
    aside[0] = '\0';
    if (Exists(full)) return false;
    ForEachLeftover(full, kAsideSuffix, [&](const char* found) {
        if (aside[0] == '\0') std::snprintf(aside, MAX_PATH, "%s", found);
    });
    return aside[0] != '\0';
}

// Writes on where a write took only part: the next one then fails with the reason (a full disk).
static bool WriteAll(HANDLE file, const std::uint8_t* bytes, std::size_t size)
{
    while (size > 0) {
        DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30)), written = 0;
        if (!Files().writeFile(file, bytes, chunk, &written, nullptr) || written == 0) return false;
        bytes += written;
        size -= written;
    }
    return true;
}

// Creates a temporary file beside `full`, has `fill` write it, and flushes it to the disk. False,
// with the file removed, when any step fails.
static bool FillTemporary(const char* full, char* temporary, const std::function<bool(HANDLE)>& fill)
{
    TemporaryOwner owner;  // declared first, so the file is closed before it is removed
    FileHandle file = CreateTemporary(full, temporary);
    if (!file) return false;
    owner.reset(temporary);
    if (!fill(file.get()) || !Files().flushFile(file.get())) return false;
    file.reset();
    owner.release();
    return true;
}

bool WriteTemporary(const char* full, const std::uint8_t* bytes, std::size_t size, char* temporary)
{
    return FillTemporary(full, temporary, [&](HANDLE file) { return WriteAll(file, bytes, size); });
}

// Copies through a buffer of its own stack: the backup needs no memory the page's work may lack.
static bool CopyContents(HANDLE from, HANDLE to)
{
    std::array<std::uint8_t, 1 << 16> buffer;
    for (;;) {
        DWORD got = 0;
        if (!Files().readFile(from, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) return false;
        if (got == 0) return true;
        if (!WriteAll(to, buffer.data(), got)) return false;
    }
}

// What the page gives the files that take its place or keep its content: its carried attributes.
static DWORD CarriedAttributes(DWORD pageAttributes)
{
    DWORD carried = pageAttributes & kCarriedAttributes;
    return carried ? carried : FILE_ATTRIBUTE_NORMAL;
}

// Gives the whole temporary file the name `name`, which must be free: a second link to the file, which
// the platform makes only where nothing at all answers to the name (some platforms' name tests do not
// see a link that leads nowhere, and their moves replace it), then the temporary name goes. Volumes
// without links (ERROR_INVALID_FUNCTION, ERROR_NOT_SUPPORTED) get a move that never replaces a file.
static bool GiveName(const char* temporary, const char* name)
{
    if (Files().linkFile(name, temporary, nullptr)) return true;
    DWORD error = GetLastError();
    if (error != ERROR_INVALID_FUNCTION && error != ERROR_NOT_SUPPORTED) return false;
    ForgetFileError();  // a volume without links, not a failure
    return Files().moveFile(temporary, name, MOVEFILE_WRITE_THROUGH);
}

bool WriteBackup(const char* full, const char* backupPath)
{
    const DWORD anyShare = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    FileHandle page = Opened(
        Files().createFile(full, GENERIC_READ, anyShare, nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    BY_HANDLE_FILE_INFORMATION information;
    if (!page || !GetFileInformationByHandle(page.get(), &information)) return false;
    char temporary[MAX_PATH];
    bool copied = FillTemporary(full, temporary, [&](HANDLE copy) {
        // As a copy by the platform would, the backup keeps the page's times.
        return CopyContents(page.get(), copy) &&
               Files().setFileTime(copy, &information.ftCreationTime, nullptr, &information.ftLastWriteTime);
    });
    if (!copied) return false;
    TemporaryOwner owner(temporary);  // removed whatever happens: after the link it is a second name
    if (!GiveName(temporary, backupPath)) return false;
    // Both names are one file with one set of attributes: the temporary name goes before the backup
    // shows, so a kill leaves at worst a whole backup still hidden, never a visible temporary file.
    // Where the temporary name cannot go, or the backup cannot show, the backup goes instead: a
    // hidden, temporary-marked backup would be one the user is told of and cannot see.
    TemporaryOwner backup(backupPath);  // goes first, then the temporary name is tried once more
    if (!Files().deleteFile(temporary)) return false;
    owner.release();
    if (!Files().setAttributes(backupPath, CarriedAttributes(information.dwFileAttributes))) return false;
    backup.release();
    return true;
}

// Where the volume refuses ReplaceFileA, the move finishes the job: ERROR_INVALID_FUNCTION and
// ERROR_NOT_SUPPORTED (a file system or share without the operation; nothing was moved),
// ERROR_UNABLE_TO_MOVE_REPLACEMENT (both files kept their names) and ERROR_UNABLE_TO_MOVE_REPLACEMENT_2
// (the page already moved to the aside name, the result still under its temporary name, the page's
// path empty). Every other failure, ERROR_UNABLE_TO_REMOVE_REPLACED among them, leaves both in place.
static bool VolumeRefusedReplace(DWORD error)
{
    return error == ERROR_INVALID_FUNCTION || error == ERROR_NOT_SUPPORTED ||
           error == ERROR_UNABLE_TO_MOVE_REPLACEMENT || error == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2;
}

// A free temporary name beside `full`, not created: ReplaceFileA creates it by moving the page there.
static void AsideName(const char* full, char* aside)
{
    for (unsigned tries = 0; tries <= 0xFFFF; ++tries) {
        TemporaryName(full, aside, kAsideSuffix);
        if (!Exists(aside)) return;
    }
}

// Best effort: a result that could not take the page's creation time is still the user's page.
static void CarryCreationTime(const char* temporary, const FILETIME& created)
{
    FileHandle file = Opened(Files().createFile(temporary, FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                nullptr, OPEN_EXISTING, 0, nullptr));
    if (file) Files().setFileTime(file.get(), &created, nullptr, nullptr);
}

bool ReplacePage(const char* full, const char* temporary, const WIN32_FILE_ATTRIBUTE_DATA& original,
                 bool& keepTemporary)
{
    keepTemporary = false;
    // ReplaceFileA carries the creation time and attributes on Windows; elsewhere it is a plain rename.
    // The result takes them before it takes the page's name, so that no moment shows the page hidden.
    CarryCreationTime(temporary, original.ftCreationTime);
    // ReplaceFileA is given an aside name of ours: without one, some platforms leave an empty file of
    // their own beside the page when the replace fails.
    char aside[MAX_PATH];
    AsideName(full, aside);
    // A result still hidden and marked temporary would put the page out of the user's sight.
    if (!Files().setAttributes(temporary, CarriedAttributes(original.dwFileAttributes))) return false;
    bool replaced = Files().replaceFile(full, temporary, aside, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr);
    if (!replaced) {
        replaced = VolumeRefusedReplace(GetLastError()) &&
                   Files().moveFile(temporary, full, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
        // A failure after the page was moved aside: the page goes back before anything is reported.
        // Should even that fail, the checked result is kept: with the path empty it is one of the two
        // copies at hand.
        if (!replaced && !Exists(full) && !Files().moveFile(aside, full, MOVEFILE_WRITE_THROUGH)) {
            keepTemporary = true;
            return false;
        }
    }
    // The page's old content is in the numbered backup; an aside left by a failed delete is swept
    // with the next operation on the page.
    Files().deleteFile(aside);
    return replaced;
}

// Backup `number` of the file at `path` in `backup`: "<drive><folder><name><number><extension>", the
// extension from the name's last dot. False when it does not fit `size` characters.
static bool FormatBackupName(const char* path, int number, char* backup, int size)
{
    char drive[3], directory[256], name[256], extension[256];
    if (_splitpath_s(path, drive, sizeof drive, directory, sizeof directory, name, sizeof name, extension,
                     sizeof extension) != 0) {
        return false;
    }
    int length = std::snprintf(backup, static_cast<size_t>(size), "%s%s%s%d%s", drive, directory, name, number,
                               extension);
    return length >= 0 && length < size;
}

// A name is taken when anything answers to it, a link that leads nowhere included: the folder lists it.
static bool NameTaken(const char* path)
{
    if (GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES) return true;
    WIN32_FIND_DATAA found;
    HANDLE search = Files().findFirstFile(path, &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    FindClose(search);
    return true;
}

void GetBackupFilename(char const* path, char* backup, int size)
{
    for (int n = 1; n <= 999; ++n) {
        if (!FormatBackupName(path, n, backup, size)) break;  // longer numbers only get longer
        if (!NameTaken(backup)) return;
    }
    // No free name: an empty name makes the copy fail instead of replacing backup 999.
    backup[0] = '\0';
}

std::vector<std::string> PagesBackedUpAs(const char* path)
{
    std::vector<std::string> pages;
    char name[256], extension[256];
    if (_splitpath_s(path, nullptr, 0, nullptr, 0, name, sizeof name, extension, sizeof extension) != 0) return pages;
    size_t nameLength = std::strlen(name);
    std::string folder(path, std::strlen(path) - std::strlen(extension) - nameLength);
    // Backup numbers run from 1 to 999: the last one to three digits of the name, without a leading zero.
    for (size_t digits = 1; digits <= 3 && digits <= nameLength; ++digits) {
        const char* number = name + nameLength - digits;
        if (!std::isdigit(static_cast<unsigned char>(*number))) break;
        if (*number == '0') continue;
        std::string page = folder + std::string(name, nameLength - digits) + extension;
        char backup[MAX_PATH];
        if (FormatBackupName(page.c_str(), std::atoi(number), backup, MAX_PATH) && _stricmp(backup, path) == 0) {
            pages.push_back(page);
        }
    }
    return pages;
}
