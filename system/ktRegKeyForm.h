// The form in which the guard rails compare a registry key with their
// table (ktGuardRails.cpp).
#pragma once

#include <initializer_list>
#include <string>
#include <vector>

// Whether the key's parts begin with `head`.
bool KeyBegins(const std::vector<std::string>& parts, std::initializer_list<const char*> head);

// The parts of a canonical key (CanonicalRegKey) with the rules applied, in
// this order: a user's key below HKU reads as HKCU (and its "_Classes" key
// as the classes); a 32-bit view drops its Wow6432Node; the user's classes
// read as the machine's; a control set reads as CurrentControlSet.
std::vector<std::string> KeyTableForm(const std::string& canonicalKey);
