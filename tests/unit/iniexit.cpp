// Test helper: changes an INI file through the engine cache and ends
// without FreeIniFiles, so that only the cache's end at program exit can
// write the change.
//   iniexit FILE
#include "ktIniCache.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        return 2;
    }
    IniDeleteKey(argv[1], "S", "gone");
    IniWriteString(argv[1], "S", "k", "v");
    return 0;
}
