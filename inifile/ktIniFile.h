// The INI engine: one object holds one INI-style file in memory, answers
// queries on it, changes it and writes it back.
#pragma once

#include "ktFileUtils.h"
#include "ktStringList.h"

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

// The one error the program raises itself: a file that exists but cannot be
// opened ("Cannot open file %s").
class EIniFileError : public std::runtime_error {
  public:
    explicit EIniFileError(const std::string& fileName);
};

class TSectionList; // the index of sections (section name -> line list)

class TktIniFile {
  public:
    TktIniFile(const std::string& fileName, bool readOnly, bool ignoreComments, bool nameValueOnly,
               bool trimAroundEquals, bool stripValueQuotes, bool trimTrailing);
    virtual ~TktIniFile();
    TktIniFile(const TktIniFile&) = delete;
    TktIniFile& operator=(const TktIniFile&) = delete;

    void SetFileName(const std::string& fileName);

    virtual std::string ReadString(const std::string& section, const std::string& key,
                                   const std::string& defaultValue);
    virtual void WriteString(const std::string& section, const std::string& key,
                             const std::string& value);
    virtual int32_t ReadInteger(const std::string& section, const std::string& key,
                                int32_t defaultValue);
    virtual void WriteInteger(const std::string& section, const std::string& key, int32_t value);
    virtual bool ReadBool(const std::string& section, const std::string& key, bool defaultValue);
    virtual void WriteBool(const std::string& section, const std::string& key, bool value);
    virtual void ReadSection(const std::string& section, TStringList& names);
    virtual void ReadSections(TStringList& names);
    virtual void ReadSectionValues(const std::string& section, TStringList& pairs);
    virtual void EraseSection(const std::string& section);
    virtual void DeleteKey(const std::string& section, const std::string& key);
    virtual void GetStrings(TStringList& lines);
    virtual void UpdateFile();

    // Appends "key=value" after the section's last line unless the section
    // holds that exact line already; adds the section when it is missing.
    void AddLine(const std::string& section, const std::string& key, const std::string& value);

    const std::string& FileName() const { return fileName_; }
    bool ReadOnly() const { return readOnly_; }
    bool Modified() const { return modified_; }

  private:
    std::string fileName_;
    TFileHandle handle_ = 0;
    bool modified_ = false;
    std::unique_ptr<TSectionList> sections_;
    int32_t currentSection_ = 0;
    bool readOnly_;
    bool ignoreComments_;
    bool nameValueOnly_;
    bool trimAroundEquals_;
    bool stripValueQuotes_;
    bool trimTrailing_;
    // The implementation adds what it needs to keep the file's own lines
    // (comments, blank lines, quoting) through a write-back.
};

// Integer text as the system reads it: leading blanks skipped; an optional
// sign and decimal digits, or "$" and up to 8 hex digits; nothing may follow.
bool TryStrToInt(const std::string& text, int32_t& value);
