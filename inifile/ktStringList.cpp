#include "ktStringList.h"

#include "winapi.h"

#include <algorithm>

int CompareTextIgnoreCase(const std::string& a, const std::string& b) {
    int result = CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a.data(),
                                static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()));
    return result - CSTR_EQUAL;
}

bool SameText(const std::string& a, const std::string& b) {
    return CompareTextIgnoreCase(a, b) == 0;
}

std::string UpperCase(const std::string& text) {
    std::string result = text;
    if (!result.empty()) {
        CharUpperBuffA(&result[0], static_cast<DWORD>(result.size()));
    }
    return result;
}

namespace {
std::string NameKey(const std::string& text) {
    return UpperCase(text.substr(0, text.find('=')));
}
} // namespace

TStringList::TStringList(std::initializer_list<std::string> lines) {
    for (const auto& line : lines) {
        Add(line);
    }
}

bool TStringList::HasName(const std::string& text) {
    return text.find('=') != std::string::npos;
}

void TStringList::IndexAdd(int index) const {
    if (!indexValid_ || !HasName(lines_[index].text)) {
        return;
    }
    auto& positions = index_[NameKey(lines_[index].text)];
    positions.insert(std::upper_bound(positions.begin(), positions.end(), index), index);
}

void TStringList::IndexRemove(int index) const {
    if (!indexValid_ || !HasName(lines_[index].text)) {
        return;
    }
    auto found = index_.find(NameKey(lines_[index].text));
    if (found == index_.end()) {
        return;
    }
    auto& positions = found->second;
    auto at = std::lower_bound(positions.begin(), positions.end(), index);
    if (at != positions.end() && *at == index) {
        positions.erase(at);
    }
    if (positions.empty()) {
        index_.erase(found);
    }
}

void TStringList::RebuildIndex() const {
    index_.clear();
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
    lines_.erase(lines_.begin() + index);
    indexValid_ = false;
}

void TStringList::Clear() {
    lines_.clear();
    index_.clear();
    indexValid_ = false;
}

int TStringList::IndexOfName(const std::string& name) const {
    if (!indexValid_) {
        RebuildIndex();
    }
    // Lines whose name upper-cases to the same key are the candidates;
    // the locale comparison has the last word.
    auto found = index_.find(UpperCase(name));
    if (found == index_.end()) {
        return -1;
    }
    for (int position : found->second) {
        const std::string& text = lines_[position].text;
        if (SameText(text.substr(0, text.find('=')), name)) {
            return position;
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
