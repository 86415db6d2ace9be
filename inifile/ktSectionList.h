// The index of the sections of one loaded INI file: section names in file
// order, each owning the list of that section's lines.
#pragma once

#include "ktStringList.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class TSectionList {
  public:
    TSectionList() = default;
    TSectionList(const TSectionList&) = delete;
    TSectionList& operator=(const TSectionList&) = delete;

    int Count() const { return static_cast<int>(entries_.size()); }
    bool Empty() const { return entries_.empty(); }
    const std::string& Names(int index) const { return entries_[index].name; }
    TStringList* SectionLines(int index) const { return entries_[index].lines.get(); }
    // Where the section's header stands among the file's raw lines, -1 for a
    // section the engine added; the engine's write-back uses it.
    int32_t HeaderLine(int index) const { return entries_[index].headerLine; }

    // Appends a section, taking its line list; returns the new position.
    int Add(const std::string& name, std::unique_ptr<TStringList> lines, int32_t headerLine = -1);
    // Gives the section a new line list; the old one is released.
    void SetSectionLines(int index, std::unique_ptr<TStringList> lines);
    // Deletes the entry and releases its line list.
    void Delete(int index);
    // Deletes every entry and releases their line lists.
    void Clear();
    // Copies the names, in order, into `names` (which is emptied first); the
    // line lists go with them as objects, still owned here.
    void AssignNamesTo(TStringList& names) const;

    // Position of the section of that name (letter case ignored), searched
    // from the last one found onwards and then from the start; -1 if none.
    int IndexOf(const std::string& name);
    // Drops every section whose name equals that of an earlier one; true
    // when one was dropped. One sort of the names, not a pairwise scan.
    bool RemoveDuplicates();

    int32_t LastFound() const { return lastFound_; }
    void SetLastFound(int32_t position) { lastFound_ = position; }

  private:
    struct Entry {
        std::string name;
        std::unique_ptr<TStringList> lines;
        int32_t headerLine;
    };
    std::vector<Entry> entries_;
    int32_t lastFound_ = 0;
};
