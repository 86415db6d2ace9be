// The one normal form of a file system path, as the system itself would
// name it: what the guard rails compare, and what files and folders are
// known by wherever two spellings must meet.
#pragma once

#include <string>

// The path's full form (GetFullPathNameA: relative to the current
// directory, "." and ".." applied, repeated separators made one, trailing
// dots and blanks gone), without the namespace prefixes that name the same
// file ("\\?\C:\x", "\\.\C:\x" and "\??\C:\x" are "C:\x", "\\?\UNC\s\x" is
// "\\s\x"), then, when the path exists and holds a short name (a "~"), its
// long form (GetLongPathNameA: short names traded for long ones). A path
// that does not exist keeps its full form; one the system cannot take at
// all comes back as given. Letter case is not normalised: compare the
// results without regard to it. Lexical calls, and a walk of the path's
// folders only for a path that holds a "~".
std::string NormalizedPath(const std::string& path);

// The same for a folder, where an alias without a "~" counts too: on the 95
// family every existing path is asked for its long form (ktPathNames.cpp
// tells which aliases lack a "~"; on the NT family only one given by hand
// does, and it is not looked through). For the few paths that name
// folders, never for each file.
std::string NormalizedFolderPath(const std::string& path);
