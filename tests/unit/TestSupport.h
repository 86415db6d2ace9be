// What every unit test suite shares: a fresh folder per test, byte-exact file
// helpers and a private registry key, all through the Win32 API, so the same
// test runs natively (over pal/) and under Wine.
#pragma once

#include "winapi.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

// A fixture that gives each test its own empty folder, removed afterwards.
class TempDirTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
    // The test's folder with a trailing backslash, e.g. "C:\...\vt-123-4\".
    const std::string& Dir() const { return dir_; }
    // Dir() + name.
    std::string PathOf(const std::string& name) const { return dir_ + name; }

  private:
    std::string dir_;
};

// A fixture that gives each test a private registry key below
// HKCU\Software, deleted with everything below it afterwards.
class TempRegTest : public TempDirTest {
  protected:
    void SetUp() override;
    void TearDown() override;
    // "HKCU\Software\VantrelTest-<pid>-<n>" (no trailing backslash).
    const std::string& KeyPath() const { return keyPath_; }
    // The same key below HKEY_CURRENT_USER, without the root.
    const std::string& SubKey() const { return subKey_; }

  private:
    std::string keyPath_;
    std::string subKey_;
};

void WriteBytes(const std::string& path, const std::string& bytes);
// The file's bytes; empty when it cannot be read.
std::string ReadBytes(const std::string& path);
bool PathExists(const std::string& path);
// The names in a folder (given with its trailing backslash), "." and ".."
// left out, in the order the system lists them.
std::vector<std::string> FolderListing(const std::string& dir);
// Deletes a folder with everything in it.
void RemoveTree(const std::string& path);
// Deletes a registry key with everything below it, with the raw API.
void RemoveRegTree(HKEY root, const std::string& subKey);
// The machine's restart-time rename list (PendingFileRenameOperations below
// the Session Manager's key): its names in order, source and target by turns.
std::vector<std::string> PendingRenameNames();
// Sets the list to `pairs`, each name ended by its zero (the list's closing
// zero is added), or deletes the value when `pairs` is empty.
void SetPendingRenames(std::string pairs);
// True under Wine, for the few tests that hold pal/ to Windows' documented
// answer where Wine gives another.
bool UnderWine();
// True when the ANSI code page is 932 (a Japanese locale under Wine). When
// $VANTREL_WANT_ACP is 932, the test run meant to be in that code page, and
// another one is a failure instead of a reason to skip.
bool UnderCodePage932();
