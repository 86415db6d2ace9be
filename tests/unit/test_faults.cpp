// The native layer's failures on request (VANTREL_FAULTS, pal/README.md), and
// the registry store on a disk that fills up. Native only: the Windows build
// has no layer to inject into.
#include "TestSupport.h"
#include "faults.h"
#include "ktIniFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <vector>

namespace {

class FaultsTest : public TempDirTest {
  protected:
    void TearDown() override {
        Use("");
        TempDirTest::TearDown();
    }
    static void Use(const std::string& faults) {
        setenv("VANTREL_FAULTS", faults.c_str(), 1);
        pal::ReloadFaults();
    }
};

TEST_F(FaultsTest, ChosenUsesFailWithTheChosenErrorAndDoNothing) {
    const DWORD kOk = 0;
    struct Case {
        const char* faults;
        std::vector<DWORD> creates; // result of the 1st, 2nd, 3rd CreateDirectoryA
    } cases[] = {
        {"", {kOk, kOk, kOk}},
        {"CreateDirectoryA:2:112", {kOk, 112, kOk}},
        {"CreateDirectoryA:2+:112", {kOk, 112, 112}},
        {"RemoveDirectoryA:1:5", {kOk, kOk, kOk}},
        {"*:2:5;CreateDirectoryA:1:32", {32, 5, kOk}},
    };
    for (const Case& c : cases) {
        Use(c.faults);
        for (size_t i = 0; i < c.creates.size(); ++i) {
            const std::string dir = PathOf("d" + std::to_string(i));
            SetLastError(0);
            const BOOL made = CreateDirectoryA(dir.c_str(), nullptr);
            EXPECT_EQ(made ? kOk : GetLastError(), c.creates[i]) << c.faults << ", use " << i + 1;
            EXPECT_EQ(PathExists(dir), c.creates[i] == kOk) << c.faults << ", use " << i + 1;
        }
        Use("");
        for (size_t i = 0; i < c.creates.size(); ++i) {
            RemoveDirectoryA(PathOf("d" + std::to_string(i)).c_str());
        }
    }
}

TEST_F(FaultsTest, RegistryCallsReportTheirFaultAsTheirResult) {
    Use("RegSetValueExA:2:112");
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, "Software\\VantrelFaults", &key), ERROR_SUCCESS);
    const BYTE data[] = "x";
    EXPECT_EQ(RegSetValueExA(key, "a", 0, REG_SZ, data, 2), ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExA(key, "b", 0, REG_SZ, data, 2), 112);
    EXPECT_EQ(RegQueryValueExA(key, "b", nullptr, nullptr, nullptr, nullptr), ERROR_FILE_NOT_FOUND);
    RegCloseKey(key);
    RemoveRegTree(HKEY_CURRENT_USER, "Software\\VantrelFaults");
}

TEST_F(FaultsTest, KillEndsTheProcessBeforeTheCall) {
    const std::string first = PathOf("first");
    const std::string second = PathOf("second");
    EXPECT_EXIT(
        {
            Use("CreateDirectoryA:2:kill");
            CreateDirectoryA(first.c_str(), nullptr);
            CreateDirectoryA(second.c_str(), nullptr);
            std::exit(0);
        },
        ::testing::KilledBySignal(SIGKILL), "");
    EXPECT_TRUE(PathExists(first));
    EXPECT_FALSE(PathExists(second));
}

TEST_F(FaultsTest, AFaultThatCannotBeReadEndsTheProcess) {
    for (const char* faults : {"WriteFile:0:5", "NoSuchCall:1:5", "WriteFile:1:0", "WriteFile:1",
                               "WriteFile:x:5", "WriteFile:1:kil"}) {
        EXPECT_EXIT(Use(faults), ::testing::ExitedWithCode(70), "VANTREL_FAULTS") << faults;
    }
}

// A disk that fills up under the registry store: a child process may write
// only a little more than the store holds (RLIMIT_FSIZE), sets values until
// one fails, and exits with the number that succeeded. Every value reported
// written must be there afterwards, and the store must still work.
TEST_F(FaultsTest, FullDiskKeepsEveryRegistryValueReportedWritten) {
    const char kKey[] = "Software\\VantrelFullDisk";
    RemoveRegTree(HKEY_CURRENT_USER, kKey);
    const std::string db = std::string(getenv("VANTREL_ROOT")) + "/registry.db";
    // The child, run afresh, has a folder of its own: the count goes beside
    // the store (a small file, below the limit).
    const std::string count = std::string(getenv("VANTREL_ROOT")) + "/full-disk-count";
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            HKEY key = nullptr;
            if (RegCreateKeyA(HKEY_CURRENT_USER, kKey, &key) != ERROR_SUCCESS) {
                std::_Exit(254);
            }
            struct stat st {};
            struct stat wal {};
            stat(db.c_str(), &st);
            if (stat((db + "-wal").c_str(), &wal) != 0) {
                wal.st_size = 0;
            }
            std::signal(SIGXFSZ, SIG_IGN); // writes beyond the limit fail with EFBIG
            rlimit limit{};
            limit.rlim_cur = limit.rlim_max =
                static_cast<rlim_t>(std::max(st.st_size, wal.st_size) + 64 * 1024);
            setrlimit(RLIMIT_FSIZE, &limit);
            const std::string data(4000, 'v');
            for (int i = 0; i < 250; ++i) {
                const std::string name = "v" + std::to_string(i);
                if (RegSetValueExA(key, name.c_str(), 0, REG_SZ,
                                   reinterpret_cast<const BYTE*>(data.c_str()),
                                   static_cast<DWORD>(data.size() + 1)) != ERROR_SUCCESS) {
                    WriteBytes(count, std::to_string(i));
                    std::_Exit(0);
                }
            }
            std::_Exit(1); // the disk never filled
        },
        ::testing::ExitedWithCode(0), "");
    const int written = std::atoi(ReadBytes(count).c_str());
    ASSERT_GT(written, 0);
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyA(HKEY_CURRENT_USER, kKey, &key), ERROR_SUCCESS);
    for (int i = 0; i <= written; ++i) {
        char buffer[4096];
        DWORD size = sizeof buffer;
        const std::string name = "v" + std::to_string(i);
        LSTATUS status = RegQueryValueExA(key, name.c_str(), nullptr, nullptr,
                                          reinterpret_cast<BYTE*>(buffer), &size);
        if (i < written) {
            ASSERT_EQ(status, ERROR_SUCCESS) << name << " was reported written";
            EXPECT_EQ(std::string(buffer, size), std::string(4000, 'v') + '\0') << name;
        } else {
            EXPECT_EQ(status, ERROR_FILE_NOT_FOUND) << name << " was reported failed";
        }
    }
    // The store takes writes again once there is room.
    const BYTE data[] = "after";
    EXPECT_EQ(RegSetValueExA(key, "after", 0, REG_SZ, data, sizeof data), ERROR_SUCCESS);
    RegCloseKey(key);
    RemoveRegTree(HKEY_CURRENT_USER, kKey);
    DeleteFileA(count.c_str());
}

} // namespace

TEST_F(FaultsTest, ReadErrorWhileLoadingBlocksTheWriteBack) {
    // A writable engine that could not read the whole file must not write
    // back: the part after the error would be cut off.
    std::string file = "[S]\r\nkeep=1\r\n";
    while (file.size() < 300000) {
        file += "pad" + std::to_string(file.size()) + "=x\r\n";
    }
    file += "[T]\r\nlast=1\r\n";
    const std::string path = PathOf("big.ini");
    WriteBytes(path, file);
    Use("ReadFile:2+:23");
    {
        TktIniFile ini(path, false, true, true, true, true, true);
        Use("");
        ini.WriteString("S", "keep", "2");
        EXPECT_FALSE(ini.UpdateFile());
        ini.DiscardChanges();
    }
    EXPECT_EQ(ReadBytes(path), file);
}
