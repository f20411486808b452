// The files of a batch run: patterns expanded by the program itself, each name checked against the
// window's path limits, and every file kept once however many arguments name it.
#pragma once

#include <string>
#include <vector>

struct BatchFile {
    std::wstring shown;             // the path as the output names it
    std::string path;               // the full ANSI path handed to the operation
    const char* refusal = nullptr;  // the failure reported instead of processing, when there is one
};

// One entry per file, in the order of the arguments, a pattern's matches in name order (ignoring
// letter case). `*` and `?` count only in an argument's last part. An argument that names no file
// gives one entry refused with `noMatchText`; a file whose full path the ANSI code page cannot hold,
// or that is too long for the window's 260-character buffer, is refused with the processing error.
// A file named again (by any spelling, or through another pattern) keeps only its first entry.
// Unless `includeBackups`, a pattern's matches that are numbered backups of another of its matches
// (page1.png, page2.png of page.png, by the pipeline's naming rule) are left out and counted; a file
// named without a pattern is always taken.
struct ExpandedFiles {
    std::vector<BatchFile> files;
    int backupsLeftOut = 0;
};
ExpandedFiles ExpandFiles(const std::vector<std::wstring>& arguments, const char* noMatchText, bool includeBackups);
