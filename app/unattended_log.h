// The record of a run without a person, asked for with --log: what support reads to learn what
// the installer did on one machine. UTF-8 lines, each with the UTC time it was written, each
// written to the file as it happens, so a run that is killed still leaves what it had done.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/state.h"
#include "common/files.h"

struct UnattendedLog {
    FileOwner file;
    // What was written last of the worker's reports, so that a byte count alone adds no line.
    InstallStage lastStage = InstallStage::Ready;
    std::u16string lastStep;
};

// Creates the file, or empties one that is there; false with the system's number when it
// cannot be made.
bool OpenUnattendedLog(UnattendedLog& log, std::u16string_view path, uint32_t& error);

// "2026-12-11T10:20:05Z text" and a line break; a text of several lines gets the time on each.
// Nothing happens without an open file. A write that fails is not retried: the log must never
// change how the run ends.
void WriteLogLine(UnattendedLog& log, std::u16string_view text);

// A line for each new step and one for the end the worker reported: "Done" with the version and
// the client's path, or the failure block that Ctrl+C copies from the window's Error screen.
void LogProgress(UnattendedLog& log, const InstallProgress& block);

// The arguments after the program's path as one line, each one quoted where it holds a space or
// is empty, so the log shows exactly what the run was given.
std::u16string DescribeArguments(const std::vector<std::u16string>& args);

// Seconds since 1970-01-01 UTC as "YYYY-MM-DDThh:mm:ssZ".
std::string UtcTimestamp(int64_t secondsSinceEpoch);

// The clock the lines are stamped with; replaceable so tests can give a fixed time.
using UtcClockFn = int64_t (*)();
extern UtcClockFn g_utcNow;
