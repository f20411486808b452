// The files the program writes beside a page: temporary files that stay hidden until they are whole
// and on the disk, the durable backup, the durable replace, and the sweep of what a killed run left.
// Every platform file call goes through the file-call seam.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

struct CloseFile {
    void operator()(HANDLE file) const { CloseHandle(file); }
};
// An open file, closed when its owner goes.
using FileHandle = std::unique_ptr<std::remove_pointer_t<HANDLE>, CloseFile>;
// Owns what CreateFileA returned; null when it failed.
FileHandle Opened(HANDLE file);

// The file at `path` opened for reading while every other reader and writer may go on, so that a
// check of ours fails nowhere the decoder would not; null when it cannot be opened.
FileHandle OpenForReading(const char* path);
// The first `size` bytes of the file at `path` in `head` and its length in `length`; false when it
// cannot be opened or is shorter.
bool ReadHead(const char* path, std::uint8_t* head, std::size_t size, std::uint64_t& length);

// The largest file read whole: 1 GiB.
constexpr long long kMaxWholeFileBytes = 1LL << 30;
// The whole file at `path`, read through the file-call seam. False when it cannot be opened or read,
// or is larger than kMaxWholeFileBytes.
bool ReadWholeFile(const char* path, std::vector<std::uint8_t>& bytes);

// The dropped path made full in `full` (MAX_PATH characters): some platforms replace files only by
// full paths. False when it, or the shortest temporary name beside it, would not fit MAX_PATH: such
// a file cannot be saved safely.
bool FullPathForSave(const char* path, char* full);

// True when the page at `full` can be replaced: it exists, is no folder, is not read-only (the
// user's "do not change") and no other program holds it open against being replaced.
bool CanReplace(const char* full);

// Removes what runs on this page that were killed left beside it: their hidden temporary files
// and a set-aside copy of the page. Only while the page itself is at its path.
void RemoveLeftovers(const char* full);

// Where a run was killed inside the replace, between the page moved aside and the result moved in,
// nothing is at `full`: the page's set-aside content is moved back. Nothing is done while the page
// is at its path.
void PutBackSetAsidePage(const char* full);
// True when nothing is at `full` and a run killed inside the replace left the page's content set
// aside; its path goes to `aside` (MAX_PATH characters). Changes nothing.
bool FindSetAsidePage(const char* full, char* aside);

// Deletes a temporary file when its owner goes, unless released (the file was put in place or must be
// kept).
struct DeleteTemporary {
    void operator()(const char* path) const;
};
using TemporaryOwner = std::unique_ptr<const char, DeleteTemporary>;

// Writes `size` bytes to a new hidden temporary file beside the page at `full` and flushes them to
// the disk; its name goes to `temporary` (MAX_PATH characters). False, with nothing left, on failure.
bool WriteTemporary(const char* full, const std::uint8_t* bytes, std::size_t size, char* temporary);

// The backup: the page at `full` copied byte for byte to a hidden temporary file with the page's
// times, flushed, given the name `backupPath`, then the page's attributes. Never replaces a file; a
// kill at any moment leaves either no backup or a whole one. False, with nothing left, on failure.
bool WriteBackup(const char* full, const char* backupPath);

// The backup name and the pages a name backs up, by one naming rule.
// Fills `backup` with the first free name "<dir><name><n><ext>", n from 1 to 999.
// Leaves it empty when no free name fits in `size` characters.
// A name is free when nothing answers to it, not even a link that leads nowhere (the folder's listing
// is asked too).
void GetBackupFilename(char const* path, char* backup, int size);
// The files whose numbered backup the file at `path` would be, by the same naming rule: "page11.png"
// is backup 1 of "page1.png" and backup 11 of "page.png". Empty when its name ends in no number from
// 1 to 999.
std::vector<std::string> PagesBackedUpAs(const char* path);

// Puts the checked, flushed temporary file in the page's place, keeping the page's identity
// (attributes, creation time and, where the platform carries them, permissions and streams).
// On failure the page is at its path as it was, and the temporary file is to be deleted; only when
// even that cannot be restored is `keepTemporary` set: the result is then the one copy at hand.
bool ReplacePage(const char* full, const char* temporary, const WIN32_FILE_ATTRIBUTE_DATA& original,
                 bool& keepTemporary);
