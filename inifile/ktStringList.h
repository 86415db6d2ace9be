// The string list shared by every module: an ordered list of text lines, each
// optionally carrying an associated object (not owned). A line "name=value"
// has a name (text before its first "=") and a value; a line without "=" has
// no name and is never found by name.
//
// Names compare without regard to letter case under the user's locale
// (CompareStringA, LOCALE_USER_DEFAULT, NORM_IGNORECASE). IndexOfName keeps
// an index of upper-cased names, so that a lookup in a list of 100,000 lines
// costs no scan; candidates from the index are confirmed with CompareStringA,
// so the result is that of a first-to-last walk.
#pragma once

#include <cstddef>
#include <deque>
#include <map>
#include <string>
#include <vector>

class TStringList {
  public:
    TStringList() = default;
    TStringList(std::initializer_list<std::string> lines);

    int Count() const { return static_cast<int>(lines_.size()); }
    bool Empty() const { return lines_.empty(); }
    const std::string& operator[](int index) const { return lines_[index].text; }
    const std::string& Strings(int index) const { return lines_[index].text; }
    void* Objects(int index) const { return lines_[index].object; }
    void SetObject(int index, void* object) { lines_[index].object = object; }

    // Appends a line; returns its position.
    int Add(const std::string& text, void* object = nullptr);
    // Inserts a line before position index (0..Count()); later lines move up.
    void Insert(int index, const std::string& text, void* object = nullptr);
    // Replaces the text at index (0..Count()-1), its object kept.
    void Set(int index, const std::string& text);
    // Removes the line at index (0..Count()-1); later lines move down.
    void Delete(int index);
    // Removes every line; objects are not released (the list owns none).
    void Clear();

    // Position of the first line that contains "=" and whose name equals
    // `name` without regard to letter case; -1 when there is none.
    int IndexOfName(const std::string& name) const;
    // Position of the first line equal to `text` without regard to letter case.
    int IndexOf(const std::string& text) const;

    // Ascending order under the locale's case-insensitive comparison.
    void Sort();

    // Kept for the shape of the callers; the list has no views to refresh.
    void BeginUpdate() {}
    void EndUpdate() {}

    // The name index of lists made from now on: ordered by the locale
    // comparison (what double-byte code pages need, see ktStringList.cpp) or
    // hashed by folded names; chosen from the code page until set.
    static void SetOrderedNameIndex(bool ordered);
    static bool UsesOrderedIndex();

    // The texts, in order.
    std::vector<std::string> ToVector() const;
    // Every line joined by CR LF, each line ended by CR LF.
    std::string Text() const;

  private:
    struct Line {
        std::string text;
        void* object;
    };
    // One slot of the name index: the lines whose upper-cased names share
    // one hash, in ascending positions: the first, and the others (rare) in
    // overflow_[rest]. Open addressing keeps a lookup to about one cache miss
    // on lists of 100,000 lines.
    struct Slot {
        size_t hash;
        int first; // -1: free
        int rest;  // -1: no other line
    };
    size_t FindSlot(size_t hash) const;
    void EraseSlot(size_t slot) const;
    void GrowIndex() const;
    static bool HasName(const std::string& text);
    void IndexAdd(int index) const;
    void IndexRemove(int index) const;
    void RebuildIndex() const;

    // A deque grows without moving its lines and without the spare half of
    // a doubled vector: loading a section of a million lines costs no copy
    // of it and little more memory than the lines themselves.
    std::deque<Line> lines_;
    // Built by the first IndexOfName, so lists never searched by name (the
    // sections of a loaded install log) cost nothing for it; rebuilt lazily
    // after an insertion or deletion shifted positions. Candidates are
    // confirmed with the locale comparison.
    mutable std::vector<Slot> slots_;
    mutable size_t usedSlots_ = 0;
    mutable std::vector<std::vector<int>> overflow_;
    mutable bool indexValid_ = false;
    // The index on a double-byte code page, where names are ordered by the
    // locale comparison itself (see ktStringList.cpp).
    struct NameLess {
        bool operator()(const std::string& a, const std::string& b) const;
    };
    mutable std::multimap<std::string, int, NameLess> ordered_;
    bool orderedIndex_ = UsesOrderedIndex();
};

// Case-insensitive comparison of two texts under the user's locale:
// negative, 0 or positive, as CompareStringA orders them.
int CompareTextIgnoreCase(const std::string& a, const std::string& b);
// True when the texts compare equal under CompareTextIgnoreCase.
bool SameText(const std::string& a, const std::string& b);
