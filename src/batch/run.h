// Running one operation over the files of a batch on several threads, with the reports printed in
// the files' order and a stop after the files in progress on Ctrl+C or when the console closes.
#pragma once

#include "batch/arguments.h"
#include "batch/files.h"

// From now on Ctrl+C, Ctrl+Break and closing the console stop the run after the files in progress.
void StopOnConsoleControl();

// Groups of files (indices into `files`), in order, each processed in order on one thread. A file
// takes the first free backup name; while no two files would take the same one now, each takes its
// own whatever the order, as on one thread. Files whose backups could meet, as the backup naming
// rule says, stay together in the files' order.
std::vector<std::vector<size_t>> PlanUnits(const std::vector<BatchFile>& files);

// Runs the command over `files` on command.jobs threads (GDI+ started) and prints one line per
// report, in the files' order, then the files a stop left and the summary (with the backups the
// patterns left out). Returns the number of files that succeeded.
size_t RunBatch(const BatchCommand& command, const std::vector<BatchFile>& files, int backupsLeftOut);
