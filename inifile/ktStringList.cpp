#include "ktStringList.h"

#include "winapi.h"

#include <algorithm>
#include <functional>
#include <utility>

int CompareTextIgnoreCase(const std::string& a, const std::string& b) {
    int result = CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a.data(),
                                static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()));
    return result - CSTR_EQUAL;
}

bool SameText(const std::string& a, const std::string& b) {
    return CompareTextIgnoreCase(a, b) == 0;
}

namespace {
// What each byte stands for when names are compared with letter case
// ignored: upper-casing alone is not enough, since the locale comparison
// also ignores some characters (NUL, the soft hyphen) and expands others
// (sharp s as ss, ligatures). The table is learnt from CompareStringA
// itself, once; two names it holds equal then fold to the same text, and
// names that fold alike are told apart by the comparison.
class TNameFold {
  public:
    TNameFold() {
        for (int c = 0; c < 256; ++c) {
            std::string one(1, static_cast<char>(c));
            if (Same(one, std::string())) {
                continue; // ignored: folds to nothing
            }
            map_[c] = one;
            for (int d = 1; d < c; ++d) {
                if (!map_[d].empty() && Same(one, std::string(1, static_cast<char>(d)))) {
                    map_[c] = map_[d];
                    break;
                }
            }
            if (map_[c] != one || c < 0x80) {
                continue;
            }
            // An expansion into two letters, like sharp s into SS.
            for (char x = 'A'; x <= 'Z' && map_[c] == one; ++x) {
                for (char y = 'A'; y <= 'Z'; ++y) {
                    if (Same(one, std::string{x, y})) {
                        map_[c] = map_[static_cast<unsigned char>(x)] +
                                  map_[static_cast<unsigned char>(y)];
                        break;
                    }
                }
            }
        }
    }
    size_t Hash(const char* name, size_t length) const {
        static thread_local std::string folded;
        folded.clear();
        for (size_t i = 0; i < length; ++i) {
            folded += map_[static_cast<unsigned char>(name[i])];
        }
        return std::hash<std::string>()(folded);
    }

  private:
    static bool Same(const std::string& a, const std::string& b) {
        return CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a.data(),
                              static_cast<int>(a.size()), b.data(),
                              static_cast<int>(b.size())) == CSTR_EQUAL;
    }
    std::string map_[256];
};

size_t NameHash(const char* name, size_t length) {
    // Never destroyed: lookups may still run from other static destructors.
    static const TNameFold& fold = *new TNameFold();
    return fold.Hash(name, length);
}

// The byte-wise fold cannot see that the locale holds two double-byte
// characters equal (full-width letters, Greek, Cyrillic in their cases), so
// on a double-byte code page names are indexed in the locale's own order:
// a lookup costs a logarithmic number of comparisons instead of one hash.
int orderedIndexChoice = -1; // -1: from the code page

bool DoubleByteCodePage() {
    static const bool doubleByte = [] {
        for (int b = 0x80; b < 0x100; ++b) {
            if (IsDBCSLeadByte(static_cast<BYTE>(b))) {
                return true;
            }
        }
        return false;
    }();
    return doubleByte;
}

size_t LineNameHash(const std::string& text) {
    return NameHash(text.data(), text.find('='));
}

bool SameName(const std::string& text, const std::string& name) {
    size_t length = text.find('=');
    return CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, text.data(),
                          static_cast<int>(length), name.data(),
                          static_cast<int>(name.size())) == CSTR_EQUAL;
}
} // namespace

void TStringList::SetOrderedNameIndex(bool ordered) {
    orderedIndexChoice = ordered ? 1 : 0;
}

bool TStringList::UsesOrderedIndex() {
    return orderedIndexChoice < 0 ? DoubleByteCodePage() : orderedIndexChoice == 1;
}

TStringList::TStringList(std::initializer_list<std::string> lines) {
    for (const auto& line : lines) {
        Add(line);
    }
}

bool TStringList::HasName(const std::string& text) {
    return text.find('=') != std::string::npos;
}

size_t TStringList::FindSlot(size_t hash) const {
    // The table is never full, so the probe ends at a free slot.
    const size_t mask = slots_.size() - 1;
    size_t i = hash & mask;
    while (slots_[i].first >= 0 && slots_[i].hash != hash) {
        i = (i + 1) & mask;
    }
    return i;
}

void TStringList::GrowIndex() const {
    std::vector<Slot> old = std::move(slots_);
    slots_.assign(old.empty() ? 16 : old.size() * 2, Slot{0, -1, -1});
    for (const Slot& slot : old) {
        if (slot.first >= 0) {
            slots_[FindSlot(slot.hash)] = slot;
        }
    }
}

void TStringList::EraseSlot(size_t slot) const {
    // Backward-shift deletion: later slots of the same probe run move up,
    // so that no probe stops early at the freed slot.
    const size_t mask = slots_.size() - 1;
    size_t hole = slot;
    size_t next = slot;
    for (;;) {
        next = (next + 1) & mask;
        if (slots_[next].first < 0) {
            break;
        }
        size_t home = slots_[next].hash & mask;
        bool stays = hole < next ? (home > hole && home <= next) : (home > hole || home <= next);
        if (!stays) {
            slots_[hole] = slots_[next];
            hole = next;
        }
    }
    slots_[hole] = Slot{0, -1, -1};
    --usedSlots_;
}

void TStringList::IndexAdd(int index) const {
    if (!indexValid_ || !HasName(lines_[index].text)) {
        return;
    }
    if (orderedIndex_) {
        const std::string& text = lines_[index].text;
        ordered_.emplace(text.substr(0, text.find('=')), index);
        return;
    }
    if ((usedSlots_ + 1) * 2 > slots_.size()) {
        GrowIndex();
    }
    size_t hash = LineNameHash(lines_[index].text);
    Slot& slot = slots_[FindSlot(hash)];
    if (slot.first < 0) {
        slot = Slot{hash, index, -1};
        ++usedSlots_;
        return;
    }
    if (index < slot.first) {
        std::swap(index, slot.first);
    }
    if (slot.rest < 0) {
        slot.rest = static_cast<int>(overflow_.size());
        overflow_.emplace_back();
    }
    auto& rest = overflow_[slot.rest];
    rest.insert(std::upper_bound(rest.begin(), rest.end(), index), index);
}

void TStringList::IndexRemove(int index) const {
    if (!indexValid_ || !HasName(lines_[index].text)) {
        return;
    }
    if (orderedIndex_) {
        const std::string& text = lines_[index].text;
        auto range = ordered_.equal_range(text.substr(0, text.find('=')));
        for (auto it = range.first; it != range.second; ++it) {
            if (it->second == index) {
                ordered_.erase(it);
                break;
            }
        }
        return;
    }
    if (slots_.empty()) {
        return;
    }
    size_t at = FindSlot(LineNameHash(lines_[index].text));
    Slot& slot = slots_[at];
    if (slot.first < 0) {
        return;
    }
    std::vector<int>* rest = slot.rest >= 0 ? &overflow_[slot.rest] : nullptr;
    if (slot.first == index) {
        if (!rest || rest->empty()) {
            EraseSlot(at);
            return;
        }
        slot.first = rest->front();
        rest->erase(rest->begin());
        return;
    }
    if (rest) {
        auto found = std::lower_bound(rest->begin(), rest->end(), index);
        if (found != rest->end() && *found == index) {
            rest->erase(found);
        }
    }
}

void TStringList::RebuildIndex() const {
    ordered_.clear();
    slots_.clear();
    usedSlots_ = 0;
    overflow_.clear();
    indexValid_ = true;
    for (int i = 0; i < Count(); ++i) {
        IndexAdd(i);
    }
}

int TStringList::Add(const std::string& text, void* object) {
    lines_.push_back({text, object});
    int index = Count() - 1;
    IndexAdd(index);
    return index;
}

void TStringList::Insert(int index, const std::string& text, void* object) {
    lines_.insert(lines_.begin() + index, {text, object});
    indexValid_ = false;
}

void TStringList::Set(int index, const std::string& text) {
    // A line replaced by one of the same name (the usual case) keeps its
    // place in the index.
    bool sameKey = indexValid_ && !orderedIndex_ && HasName(text) && HasName(lines_[index].text) &&
                   LineNameHash(text) == LineNameHash(lines_[index].text);
    if (sameKey) {
        lines_[index].text = text;
        return;
    }
    IndexRemove(index);
    lines_[index].text = text;
    IndexAdd(index);
}

void TStringList::Delete(int index) {
    if (index == Count() - 1) {
        // The last line goes: no other position shifts.
        IndexRemove(index);
        lines_.pop_back();
        return;
    }
    IndexRemove(index);
    lines_.erase(lines_.begin() + index);
    if (!indexValid_) {
        return;
    }
    // Shifting the later positions costs a pass over the table but no
    // hashing, far less than a rebuild before the next lookup; deleting
    // keys one by one from a large section stays cheap.
    for (Slot& slot : slots_) {
        if (slot.first > index) {
            --slot.first;
        }
    }
    for (auto& rest : overflow_) {
        for (int& position : rest) {
            if (position > index) {
                --position;
            }
        }
    }
    for (auto& entry : ordered_) {
        if (entry.second > index) {
            --entry.second;
        }
    }
}

void TStringList::Clear() {
    lines_.clear();
    ordered_.clear();
    slots_.clear();
    usedSlots_ = 0;
    overflow_.clear();
    indexValid_ = false;
}

int TStringList::IndexOfName(const std::string& name) const {
    if (!indexValid_) {
        RebuildIndex();
    }
    if (orderedIndex_) {
        // Every name the locale holds equal to the wanted one, the first of
        // them in the list wins.
        auto range = ordered_.equal_range(name);
        int first = -1;
        for (auto it = range.first; it != range.second; ++it) {
            if (first < 0 || it->second < first) {
                first = it->second;
            }
        }
        return first;
    }
    if (slots_.empty()) {
        return -1;
    }
    // Lines whose upper-cased name hashes alike are the candidates; the
    // locale comparison has the last word.
    const Slot& slot = slots_[FindSlot(NameHash(name.data(), name.size()))];
    if (slot.first < 0) {
        return -1;
    }
    if (SameName(lines_[slot.first].text, name)) {
        return slot.first;
    }
    if (slot.rest >= 0) {
        for (int position : overflow_[slot.rest]) {
            if (SameName(lines_[position].text, name)) {
                return position;
            }
        }
    }
    return -1;
}

int TStringList::IndexOf(const std::string& text) const {
    for (int i = 0; i < Count(); ++i) {
        if (SameText(lines_[i].text, text)) {
            return i;
        }
    }
    return -1;
}

void TStringList::Sort() {
    std::stable_sort(lines_.begin(), lines_.end(), [](const Line& a, const Line& b) {
        return CompareTextIgnoreCase(a.text, b.text) < 0;
    });
    indexValid_ = false;
}

std::vector<std::string> TStringList::ToVector() const {
    std::vector<std::string> result;
    result.reserve(lines_.size());
    for (const auto& line : lines_) {
        result.push_back(line.text);
    }
    return result;
}

std::string TStringList::Text() const {
    std::string result;
    for (const auto& line : lines_) {
        result += line.text;
        result += "\r\n";
    }
    return result;
}

bool TStringList::NameLess::operator()(const std::string& a, const std::string& b) const {
    return CompareTextIgnoreCase(a, b) < 0;
}
