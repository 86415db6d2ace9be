// The one normal form of a file system path, as the system itself would
// name it: what the guard rails compare, and what files and folders are
// known by wherever two spellings must meet.
#pragma once

#include <string>

// The path's full form (GetFullPathNameA: relative to the current
// directory, "." and ".." applied, repeated separators made one, trailing
// dots and blanks gone), then, when the path exists, its long form
// (GetLongPathNameA: short names traded for long ones). A path that does
// not exist keeps its full form; one the system cannot take at all comes
// back as given. Letter case stays; one lexical call and at most one walk
// of the path's folders.
std::string NormalizedPath(const std::string& path);
