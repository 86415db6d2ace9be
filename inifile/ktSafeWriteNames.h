// The temporary files of the write-back (see ktSafeWrite.h for their names):
// making and reading their names, checking that a file is ours, finding and
// removing them, and the calls that older systems lack. The write-back and
// its mending after a crash (ktSafeWrite) use this; it uses nothing of them.
#pragma once

#include "winapi.h"

#include <cstdint>
#include <string>
#include <vector>

enum TTempKind { kTempNew, kTempOld };

uint32_t Crc32(const std::string& bytes);

// "<file>.~vt<ID>.<CRC>.new" or ".old", beside the file it serves.
class TTempName {
  public:
    TTempName() = default;
    // A name no write-back of this process has used: ID is the process id
    // and a count.
    static TTempName Fresh(const std::string& fileName, uint32_t crc, TTempKind kind);
    // Reads a name found beside `fileName` (its own name only, as a folder
    // listing gives it); false when it is not of our form.
    static bool Parse(const std::string& fileName, const std::string& found, TTempName& name);

    // The other kind of the same write-back, for bytes with this CRC.
    TTempName Partner(uint32_t crc) const;
    const std::string& Path() const { return path_; }
    // The file it serves, spelled as its folder spells it.
    const std::string& FileName() const { return fileName_; }
    const std::string& Id() const { return id_; }
    TTempKind Kind() const { return kind_; }
    // Whether the file of this name holds exactly the bytes its name checks.
    bool HoldsItsBytes() const;
    // Whether these are the bytes its name checks.
    bool Holds(const std::string& bytes) const;

  private:
    TTempName(const std::string& fileName, const std::string& id, uint32_t crc, TTempKind kind);

    std::string fileName_;
    std::string id_;
    uint32_t crc_ = 0;
    TTempKind kind_ = kTempNew;
    std::string path_;
};

// The name of the file that an existing `fileName` names, after every
// symbolic link, spelled as its folder spells it (the engine cache names
// files in upper case, and a replacement by that name would change the
// letter case of another program's file).
std::string FinalFileName(const std::string& fileName);

// Every name of our form beside `fileName` (none for a name with wildcards).
std::vector<TTempName> OurNamesBeside(const std::string& fileName);
// Deletes the file of one of our names, read-only or not.
void RemoveOurs(const TTempName& name);
// Removes the temporary files of ours beside an existing `fileName` that a
// crash left: they hold nothing it needs.
void RemoveOurLeftovers(const std::string& fileName);

// ReplaceFileA where the system has it (not the 95 family nor NT 4); else a
// replacing move, after CarryRights.
bool ReplaceWithRights(const std::string& fileName, const std::string& replacement);

// Gives `to` the access rights of `from`: its owner, group and access list.
// True when done, and where the system keeps no rights to give (the 95
// family, a file system without them); false when they cannot be given,
// such as an owner this process may not give away.
bool CarryRights(const std::string& from, const std::string& to);
