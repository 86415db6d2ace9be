// A second process for the end-to-end scenarios, built for both targets over
// the same Win32 calls as the program:
//   holder hold FILE READY STOP   opens FILE without sharing, creates READY,
//                                 and keeps FILE open until STOP exists
//                                 (or ten minutes have passed);
//   holder load FILE READY STOP   loads FILE as a library (a running
//                                 program's files are held so), creates
//                                 READY, and keeps it loaded until STOP exists;
//   holder mutex NAME READY STOP  owns the named mutex, creates READY, and
//                                 ends without releasing it once STOP
//                                 exists (the mutex is left abandoned);
//   holder attrib FILE [r][h][s]  sets the file's attributes (none: normal);
//   holder list DIR OUT           writes every file and folder below DIR to
//                                 OUT, one "ATTRIBUTES-IN-HEX RELATIVE-PATH"
//                                 line each, as FindFirstFileA sees them;
//   holder session query|end      sends what the system sends at the end of
//                                 the session to the uninstaller's hidden
//                                 session window (a window of another
//                                 process, so under Wine only):
//                                 WM_QUERYENDSESSION (exit code 3 when it
//                                 refuses, 0 when it agrees) or WM_ENDSESSION
//                                 with TRUE; 2 when there is no such window.
// Exit code 0 on success, 2 when the file cannot be opened or changed, 1 for
// a bad command line. Paths are Windows paths (a native path starting with
// "/" natively; Z:\... under Wine for the runner's own files).
#include "winapi.h"

#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

namespace {

// Blanks separate, double quotes group and are dropped: enough for the
// runner, which never passes quotes inside an argument.
std::vector<std::string> SplitArgs(const char* line) {
    std::vector<std::string> args;
    std::string current;
    bool inQuotes = false;
    bool any = false;
    for (const char* p = line; *p; ++p) {
        unsigned char c = static_cast<unsigned char>(*p);
        if (c == '"') {
            inQuotes = !inQuotes;
            any = true;
        } else if (c <= ' ' && !inQuotes) {
            if (any) {
                args.push_back(current);
            }
            current.clear();
            any = false;
        } else {
            current += static_cast<char>(c);
            any = true;
        }
    }
    if (any) {
        args.push_back(current);
    }
    return args;
}

bool Exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Creates READY, then waits until STOP exists. Bounded, so that a runner
// that dies cannot leave the file held forever.
void SignalAndWait(const std::string& ready, const std::string& stop) {
    HANDLE marker = CreateFileA(ready.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (marker != INVALID_HANDLE_VALUE) {
        CloseHandle(marker);
    }
    for (int i = 0; i < 600 * 20 && !Exists(stop); ++i) {
        Sleep(50);
    }
}

int Load(const std::string& file, const std::string& ready, const std::string& stop) {
    HMODULE library = LoadLibraryA(file.c_str());
    if (library == nullptr) {
        return 2;
    }
    SignalAndWait(ready, stop);
    FreeLibrary(library);
    return 0;
}

int Hold(const std::string& file, const std::string& ready, const std::string& stop) {
    HANDLE held = CreateFileA(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (held == INVALID_HANDLE_VALUE) {
        return 2;
    }
    SignalAndWait(ready, stop);
    CloseHandle(held);
    return 0;
}

int Mutex(const std::string& name, const std::string& ready, const std::string& stop) {
    HANDLE mutex = CreateMutexA(nullptr, FALSE, name.c_str());
    if (mutex == nullptr || WaitForSingleObject(mutex, 0) != WAIT_OBJECT_0) {
        return 2;
    }
    SignalAndWait(ready, stop);
    CloseHandle(mutex);
    return 0;
}

int Attrib(const std::string& file, const std::vector<std::string>& flags) {
    DWORD attributes = 0;
    for (const std::string& flag : flags) {
        for (char c : flag) {
            if (c == 'r' || c == 'R') {
                attributes |= FILE_ATTRIBUTE_READONLY;
            } else if (c == 'h' || c == 'H') {
                attributes |= FILE_ATTRIBUTE_HIDDEN;
            } else if (c == 's' || c == 'S') {
                attributes |= FILE_ATTRIBUTE_SYSTEM;
            }
        }
    }
    if (attributes == 0) {
        attributes = FILE_ATTRIBUTE_NORMAL;
    }
    return SetFileAttributesA(file.c_str(), attributes) ? 0 : 2;
}

// Depth first, in the order the folder gives; the runner sorts.
void ListTree(const std::string& dir, const std::string& relative, std::string& out) {
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA((dir + "\\*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) {
        return;
    }
    do {
        std::string name = found.cFileName;
        if (name == "." || name == "..") {
            continue;
        }
        char attributes[16];
        std::snprintf(attributes, sizeof attributes, "%lx",
                      static_cast<unsigned long>(found.dwFileAttributes));
        out += std::string(attributes) + " " + relative + name + "\n";
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            ListTree(dir + "\\" + name, relative + name + "\\", out);
        }
    } while (FindNextFileA(find, &found));
    FindClose(find);
}

int List(const std::string& dir, const std::string& outPath) {
    std::string text;
    ListTree(dir, "", text);
    HANDLE out = CreateFileA(outPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE) {
        return 2;
    }
    DWORD written = 0;
    BOOL ok = WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(out);
    return ok && written == text.size() ? 0 : 2;
}

// The uninstaller's session window: a hidden dialog without a caption
// whose one control is a static text with the id 100.
BOOL CALLBACK FindSessionWindow(HWND window, LPARAM found) {
    char className[32] = "";
    char caption[8] = "";
    GetClassNameA(window, className, sizeof className);
    GetWindowTextA(window, caption, sizeof caption);
    HWND text = GetDlgItem(window, 100);
    char textClass[16] = "";
    if (text != nullptr) {
        GetClassNameA(text, textClass, sizeof textClass);
    }
    std::string staticClass = textClass;
    for (char& c : staticClass) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    if (std::string(className) == "#32770" && caption[0] == '\0' && !IsWindowVisible(window) &&
        staticClass == "STATIC") {
        *reinterpret_cast<HWND*>(found) = window;
        return FALSE;
    }
    return TRUE;
}

int Session(const std::string& what) {
    HWND window = nullptr;
    EnumWindows(FindSessionWindow, reinterpret_cast<LPARAM>(&window));
    if (window == nullptr) {
        return 2;
    }
    // The window answers between two entries of the run: wait for it.
    DWORD_PTR result = 0;
    if (what == "query") {
        if (!SendMessageTimeoutA(window, WM_QUERYENDSESSION, 0, 0, SMTO_NORMAL, 120000, &result)) {
            return 2;
        }
        return result == FALSE ? 3 : 0;
    }
    return SendMessageTimeoutA(window, WM_ENDSESSION, TRUE, 0, SMTO_NORMAL, 120000, &result) ? 0
                                                                                             : 2;
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    std::vector<std::string> args = SplitArgs(GetCommandLineA());
    if (args.size() >= 5 && args[1] == "hold") {
        return Hold(args[2], args[3], args[4]);
    }
    if (args.size() == 5 && args[1] == "load") {
        return Load(args[2], args[3], args[4]);
    }
    if (args.size() == 5 && args[1] == "mutex") {
        return Mutex(args[2], args[3], args[4]);
    }
    if (args.size() == 4 && args[1] == "list") {
        return List(args[2], args[3]);
    }
    if (args.size() == 3 && args[1] == "session") {
        return Session(args[2]);
    }
    if (args.size() >= 3 && args[1] == "attrib") {
        return Attrib(args[2], std::vector<std::string>(args.begin() + 3, args.end()));
    }
    return 1;
}
