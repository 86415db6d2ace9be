#include "ktSectionList.h"

#include <algorithm>
#include <utility>

int TSectionList::Add(const std::string& name, std::unique_ptr<TStringList> lines,
                      int32_t headerLine) {
    entries_.push_back({name, std::move(lines), headerLine});
    return Count() - 1;
}

void TSectionList::SetSectionLines(int index, std::unique_ptr<TStringList> lines) {
    entries_[index].lines = std::move(lines);
}

void TSectionList::Delete(int index) {
    entries_.erase(entries_.begin() + index);
}

void TSectionList::Clear() {
    entries_.clear();
}

void TSectionList::AssignNamesTo(TStringList& names) const {
    names.Clear();
    for (const auto& entry : entries_) {
        names.Add(entry.name, entry.lines.get());
    }
}

int TSectionList::IndexOf(const std::string& name) {
    const int count = Count();
    if (count == 0) {
        return -1;
    }
    // The index may have shrunk under the remembered position.
    int start = (lastFound_ >= 0 && lastFound_ < count) ? lastFound_ : 0;
    for (int step = 0; step < count; ++step) {
        int i = start + step;
        if (i >= count) {
            i -= count;
        }
        if (SameText(entries_[i].name, name)) {
            lastFound_ = i;
            return i;
        }
    }
    return -1;
}

bool TSectionList::RemoveDuplicates() {
    const int count = Count();
    if (count < 2) {
        return false;
    }
    struct Item {
        const std::string* name;
        int position;
    };
    std::vector<Item> items;
    items.reserve(count);
    for (int i = 0; i < count; ++i) {
        items.push_back({&entries_[i].name, i});
    }
    // A merge sort never leaves its range, whatever the comparison does with
    // odd bytes; the positions decide among equal names below.
    std::stable_sort(items.begin(), items.end(), [](const Item& a, const Item& b) {
        return CompareTextIgnoreCase(*a.name, *b.name) < 0;
    });
    std::vector<bool> dropped(count, false);
    bool result = false;
    size_t base = 0;
    for (size_t e = 1; e < items.size(); ++e) {
        if (!SameText(*items[base].name, *items[e].name)) {
            base = e;
            continue;
        }
        size_t loser = items[e].position < items[base].position ? base : e;
        size_t survivor = loser == base ? e : base;
        dropped[items[loser].position] = true;
        base = survivor;
        result = true;
    }
    if (!result) {
        return false;
    }
    std::vector<Entry> kept;
    kept.reserve(count);
    for (int i = 0; i < count; ++i) {
        if (!dropped[i]) {
            kept.push_back(std::move(entries_[i]));
        }
    }
    // The dropped entries release their line lists here.
    entries_ = std::move(kept);
    return true;
}
