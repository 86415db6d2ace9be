// The INI engine: one object holds one INI-style file in memory, answers
// queries on it, changes it and writes it back.
#pragma once

#include "ktLineFile.h"
#include "ktStringList.h"

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

// The one error the program raises itself: a file that exists but cannot be
// opened ("Cannot open file %s").
class EIniFileError : public std::runtime_error {
  public:
    explicit EIniFileError(const std::string& fileName);
};

class TSectionList; // the index of sections (section name -> line list)

// How an engine reads the lines, headers and names of its file.
// - InstallLog: the install log's own rules, which stored logs rely on (a
//   line ends at a CR and LFs are dropped; a header is a whole line "[...]";
//   the five load options of the constructor apply).
// - Profile: as the system's profile functions (GetPrivateProfileStringA and
//   its family) read other programs' INI files and wininit.ini: a line ends
//   at CR LF, CR or LF; a header is "[", the name and the first "]" after
//   optional leading blanks, anything after the "]" ignored; key names (and
//   the section and key names asked for) are found without their
//   surrounding blanks, values without them and without one pair of quotes
//   around them; every other non-blank line is a key (one
//   without "=" or beginning with ";" is stored as "name=", a key with no
//   value). The five load options do not apply.
enum class TIniRules : uint8_t { InstallLog, Profile };

// Nothing is written until UpdateFile (or the destructor, or SetFileName).
// UpdateFile reports a failed write-back and keeps the changes pending; the
// destructor and SetFileName cannot report one, and the changes are then lost
// (the file stays as it was).
class TktIniFile {
  public:
    // Loads the file; a missing file gives an empty engine. Raises
    // EIniFileError for a file that exists but cannot be opened.
    TktIniFile(const std::string& fileName, bool readOnly, bool ignoreComments, bool nameValueOnly,
               bool trimAroundEquals, bool stripValueQuotes, bool trimTrailing,
               TIniRules rules = TIniRules::InstallLog);
    virtual ~TktIniFile();
    TktIniFile(const TktIniFile&) = delete;
    TktIniFile& operator=(const TktIniFile&) = delete;

    // Writes the current file back, then loads the named one ("" for none).
    // Raises EIniFileError as the constructor does; the engine is then empty.
    void SetFileName(const std::string& fileName);

    // The key's value, or the default when the section or key is missing.
    virtual std::string ReadString(const std::string& section, const std::string& key,
                                   const std::string& defaultValue);
    // Sets the key's value in memory, adding the section and key as needed.
    // An empty key erases the section (and with an empty section and value
    // too, writes the file back instead).
    virtual void WriteString(const std::string& section, const std::string& key,
                             const std::string& value);
    // The value read as integer text (TryStrToInt, "0x" as "$"), or the
    // default when it is missing or not a number.
    virtual int32_t ReadInteger(const std::string& section, const std::string& key,
                                int32_t defaultValue);
    // WriteString of the value in decimal.
    virtual void WriteInteger(const std::string& section, const std::string& key, int32_t value);
    // ReadInteger not 0, or the default when missing or not a number.
    virtual bool ReadBool(const std::string& section, const std::string& key, bool defaultValue);
    // WriteString of "1" or "0".
    virtual void WriteBool(const std::string& section, const std::string& key, bool value);
    // Appends the section's key names (an empty one for a line without "=");
    // nothing for a missing section. The list is not emptied first.
    virtual void ReadSection(const std::string& section, TStringList& names);
    // Replaces the list with the section names, in file order.
    virtual void ReadSections(TStringList& names);
    // Merges the section's lines into the list by name (SetNameValue); a line
    // without "=" counts as a name with an empty value. Nothing for a missing
    // section.
    virtual void ReadSectionValues(const std::string& section, TStringList& pairs);
    // Removes the section and its lines in memory; nothing when it is missing.
    virtual void EraseSection(const std::string& section);
    // Removes the key's line in memory; nothing when it is missing.
    virtual void DeleteKey(const std::string& section, const std::string& key);
    // Appends the file as the engine would write it: each non-empty section's
    // header, its lines and an empty line.
    virtual void GetStrings(TStringList& lines);
    // Writes pending changes back through a temporary file that replaces the
    // original only once complete; false when they could not be written, the
    // file then being as it was and the changes still pending.
    virtual bool UpdateFile();
    // Forgets pending changes, so that freeing the engine writes nothing
    // (after a failed write-back that must not be retried).
    void DiscardChanges() { modified_ = false; }

    // Appends "key=value" after the section's last line unless the section
    // holds that exact line already; adds the section when it is missing.
    void AddLine(const std::string& section, const std::string& key, const std::string& value);

    const std::string& FileName() const { return fileName_; }
    bool ReadOnly() const { return readOnly_; }
    bool Modified() const { return modified_; }
    TIniRules Rules() const { return rules_; }

  private:
    std::string fileName_;
    // 0 when no file is open (none was there), -1 after a failed open.
    TScopedFileHandle handle_;
    bool modified_ = false;
    std::unique_ptr<TSectionList> sections_;
    int32_t currentSection_ = 0;
    bool readOnly_;
    bool ignoreComments_;
    bool nameValueOnly_;
    bool trimAroundEquals_;
    bool stripValueQuotes_;
    bool trimTrailing_;
    TIniRules rules_;
    // A read error while loading: the engine holds only part of the file, so
    // writing it back would cut the rest off.
    bool loadFailed_ = false;
    // How the file's bytes stand for the engine's ANSI text: plain, after a
    // UTF-8 byte order mark, or UTF-16 LE after its mark.
    enum TEncoding : uint8_t { enAnsi, enUtf8Mark, enUtf16 };
    TEncoding encoding_ = enAnsi;

    // The file's own lines, kept by a writable engine so that a write-back
    // changes only what the engine changed: every raw line with its bytes
    // (line end included) in rawText_. A stored entry line carries the
    // number of its raw line plus 1 as its object; new lines carry none.
    enum TRawKind : uint8_t { rkOther, rkHeader, rkDeadHeader, rkEntry };
    struct TRawLine {
        size_t offset;
        size_t length;
        TRawKind kind;
        bool hadEntries; // a header whose section held entry lines when loaded
    };
    std::string rawText_;
    size_t markLength_ = 0; // the byte order mark at the start of rawText_
    std::vector<TRawLine> rawLines_;
    // Kept headers whose name a later, dropped section repeats, with that
    // name. Such a header stays in the file even when its section goes, so
    // that the dropped section behind it does not come alive on the next
    // load; a new section of the same name is written below it.
    std::vector<std::pair<size_t, std::string>> shadowingHeaders_;

    // The exact lines of the section AddLine filled last, so that a long run
    // of AddLine calls on one section costs no scan per call. Any other
    // change bumps generation_ and makes the set stale.
    uint64_t generation_ = 0;
    const TStringList* exactSection_ = nullptr;
    uint64_t exactGeneration_ = 0;
    std::unordered_set<std::string> exactLines_;

    void LoadFile();
    void NoteShadowingHeader(size_t droppedHeader);
    TEncoding ReadMark();
    void LoadLines(bool keepRaw);
    void LoadUtf16Lines(bool keepRaw);
    void TakeLine(std::string& line, const std::string* raw, TStringList*& current,
                  size_t& currentHeader);
    // The text of a kept raw line as loading saw it, and where its line end
    // starts.
    std::string RawText(const TRawLine& rawLine, size_t& textEnd) const;
    std::string Encode(const std::string& text) const;
    bool WriteBack();
    void ClearSections();
    int FindKey(const std::string& section, const std::string& key, TStringList*& lines, bool add);
    TStringList* FindSection(const std::string& section, bool add);
    // Applies the load rules to one line read from the file: the section
    // name for a header, the stored form for an entry.
    enum TLineKind { lkSkip, lkHeader, lkEntry };
    TLineKind ParseLine(std::string& line) const;
    // ParseLine under the profile rules.
    TLineKind ParseProfileLine(std::string& line) const;
    // A section or key name as the engine looks it up: without its
    // surrounding blanks under the profile rules, as given otherwise.
    std::string Asked(const std::string& name) const;
    // Where the value of a stored line starts, past its "=" (npos for none).
    size_t ValueStart(const std::string& line) const;
    // The first `wanted` at or after `from`, character-aware in a double-byte
    // code page (a trail byte is never taken); npos when there is none.
    size_t FindChar(const std::string& line, char wanted, size_t from) const;
    size_t FindEquals(const std::string& line, size_t from, std::vector<size_t>* starts) const;
    bool leadBytes_[256] = {};
    bool doubleByte_ = false;
    void ReadLeadBytes();
    std::string BuildFileText() const;
};
