// The machine as the ledger changes it. The ledger decides every entry's
// outcome in one place, through the steps below; which machine it hands
// them to is all that tells a run from a preview:
// - the real machine (NewRealMachine) carries each step out;
// - the overlay (NewOverlayMachine) changes nothing: it answers each step
//   with what the real step would do on the machine as the run would have
//   left it by then, and remembers what the run would already have changed
//   (files and folders gone, counters lowered, values and keys deleted, INI
//   entries deleted), as an overlay file system does. It asks the machine
//   only questions that change nothing.
// Files and folders are known to the overlay by LedgerFileKey.
#pragma once

#include "ktServerHost.h"

#include "ktRegIni.h"
#include "winapi.h"

#include <cstdint>
#include <memory>
#include <string>

// The one key of a file or folder: the full path as GetFullPathNameA forms
// it ("/" as "\", ".", "..", repeated separators, trailing dots and blanks
// of the last name), short (8.3) names replaced by the long ones where the
// path exists, upper-cased. Every spelling of one file gives one key.
std::string LedgerFileKey(const std::string& path);

// What deleting a file came to.
enum class TFileDeletion {
    Deleted, // gone now
    NoFile,  // no file of that name (nothing, a folder, or a device)
    Refused, // the file is there and stays; `error` says why
};

// What removing a folder came to.
enum class TFolderRemoval {
    Removed,  // gone now
    NoFolder, // no folder of that name
    NotEmpty, // it still holds files or folders
    Refused,  // it is there, empty, and stays; `error` says why
};

// What the INI engine would make of a file an entry edits.
enum class TIniAccess {
    Missing,    // no such file: no key in it
    Unopenable, // the engine cannot open it to write: its open error ends the run
    Stuck,      // it opens, but cannot be replaced: a write-back would fail
    Writable,   // its keys can be deleted and the file written back
};

class TLedgerMachine {
  public:
    virtual ~TLedgerMachine() = default;
    virtual bool IsOverlay() const = 0;

    // -- Files and folders ------------------------------------------------
    // Deletes the file now (read-only or not); a device name is no file.
    virtual TFileDeletion DeleteFile(const std::string& path, DWORD& error) = 0;
    // Has an existing file deleted at the next restart. On the NT family a
    // running program or loaded library is first moved aside to a hidden
    // name of our mark (`movedTo`), freeing its own name at once; any other
    // file stays under its name until the restart, for the overlay too.
    virtual bool ScheduleDelete(const std::string& path, DWORD& error, std::string& movedTo) = 0;
    // Writes the 95 family's restart-time list (RestartListFile) back, with
    // the files ScheduleDelete put in it; false (and `error`) when the file
    // stays as it was, and the files in it with it. Nothing to write: true.
    virtual bool WriteBackRestartList(DWORD& error) = 0;
    virtual TFolderRemoval RemoveFolder(const std::string& path, DWORD& error) = 0;
    // A folder that holds only files moved aside (and folders scheduled so)
    // is scheduled for removal at restart, after them (NT family); false
    // leaves it as it is.
    virtual bool ScheduleFolderRemoval(const std::string& path) = 0;
    // True when a file (not a folder, nor a device) of that name is there.
    virtual bool FileThere(const std::string& path) = 0;

    // -- Registry ---------------------------------------------------------
    // The value reading of a registry entry (see RemoveRegValueEntry).
    virtual TRegValueRemoval RemoveValue(const std::string& path, LSTATUS& error) = 0;
    virtual bool KeyThere(const std::string& path) = 0;
    // Deletes the key with everything below it; true when it is gone.
    virtual bool DeleteKey(const std::string& path) = 0;
    // A shared file's use count (1 when there is none); `exists` tells.
    virtual int32_t ReadCounter(const std::string& path, bool& exists) = 0;
    virtual bool WriteCounter(const std::string& path, int32_t value) = 0;
    // Deletes a value; true when it is gone.
    virtual bool DeleteValue(const std::string& path) = 0;

    // -- INI files (by LedgerFileKey) ---------------------------------------
    // Asked once per file and write-back: the engine then holds the file.
    TIniAccess IniAccess(const std::string& fileKey, DWORD& error);
    virtual bool IniKeyThere(const std::string& fileKey, const std::string& section,
                             const std::string& key) = 0;
    virtual void DeleteIniKey(const std::string& fileKey, const std::string& section,
                              const std::string& key) = 0;

    // -- Fonts, servers -----------------------------------------------------
    virtual bool RemoveFont(const std::string& name, BOOL(WINAPI* removeFont)(LPCSTR)) = 0;
    // Tells the running programs that the fonts changed.
    virtual void FontsChanged() = 0;
    // Calls the server's DllUnregisterServer and says how the call went. A
    // fault inside the server raises EServerFault.
    virtual TServerCall UnregisterServer(const std::string& path) = 0;
};

std::unique_ptr<TLedgerMachine> NewRealMachine();
std::unique_ptr<TLedgerMachine> NewOverlayMachine();
