// Files in use moved aside before their deletion at restart (NT family). A
// running program or a loaded library cannot be deleted, but it can be
// renamed: it goes to a hidden name of our mark in its own folder, and that
// name is deleted at the next restart, so that a file installed again under
// the old name before the restart stays.
#pragma once

#include <string>
#include <unordered_set>

// "~vt" + five hexadecimal digits + ".tmp": our mark, in any letter case.
bool IsMovedAsideName(const std::string& name);
// A name of our mark in the file's folder that no file has now (the full
// path). Each call tries a new number.
std::string MoveAsideCandidate(const std::string& path);
// Renames the file within its folder to a free name of our mark, makes it
// hidden and schedules that name for deletion at restart. False, with the
// file under its own name, when the rename is refused (a file opened
// without shared deletion) or the schedule is.
bool MoveAsideForRestart(const std::string& path, std::string& movedTo);
// True when the folder holds nothing but files of our mark and folders named
// in `scheduledDirs` (normalized paths, see NormalizeFilePath).
bool HoldsOnlyMovedAside(const std::string& dir,
                         const std::unordered_set<std::string>& scheduledDirs);
// Schedules an (at restart empty) folder for removal at restart, after the
// entries already on the list.
bool RemoveDirectoryOnRestart(const std::string& dir);
