// The Restart Manager over the machine's real processes (native only: under
// Wine its calls are stubs that name no application, so only the layer can
// show this). Child processes forked here hold a file open, hold it mapped
// with no descriptor left, or ignore the request to end.
#include "TestSupport.h"

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using StartFn = DWORD(WINAPI*)(DWORD*, DWORD, WCHAR*);
using EndFn = DWORD(WINAPI*)(DWORD);
using RegisterFn = DWORD(WINAPI*)(DWORD, UINT, LPCWSTR*, UINT, RM_UNIQUE_PROCESS*, UINT, LPCWSTR*);
using GetListFn = DWORD(WINAPI*)(DWORD, UINT*, UINT*, RM_PROCESS_INFO*, LPDWORD);
using ShutdownFn = DWORD(WINAPI*)(DWORD, ULONG, RM_WRITE_STATUS_CALLBACK);

template <typename T> T Proc(HMODULE module, const char* name) {
    return reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

std::vector<WCHAR> Wide(const std::string& text) {
    std::vector<WCHAR> wide(text.size() + 1, 0);
    MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), static_cast<int>(wide.size()));
    return wide;
}

std::string Narrow(const WCHAR* text) {
    char buffer[512] = {};
    WideCharToMultiByte(CP_ACP, 0, text, -1, buffer, sizeof buffer, nullptr, nullptr);
    return buffer;
}

enum class Hold { Open, Mapped, IgnoringTerm };

// A forked child that holds `path` as asked, then waits to be ended.
class Child {
  public:
    Child(const std::string& nativePath, Hold how) {
        int ready[2];
        if (pipe(ready) != 0) {
            return;
        }
        pid_ = fork();
        if (pid_ == 0) {
            close(ready[0]);
            if (how == Hold::IgnoringTerm) {
                signal(SIGTERM, SIG_IGN);
            }
            int fd = open(nativePath.c_str(), O_RDONLY);
            if (how == Hold::Mapped && fd >= 0) {
                void* map = mmap(nullptr, 1, PROT_READ, MAP_SHARED, fd, 0);
                close(fd);
                fd = map == MAP_FAILED ? -1 : 0;
            }
            char ok = fd >= 0 ? '1' : '0';
            (void)!write(ready[1], &ok, 1);
            for (int i = 0; i < 600; ++i) {
                sleep(1);
            }
            _exit(0);
        }
        close(ready[1]);
        char ok = '0';
        holding_ = pid_ > 0 && read(ready[0], &ok, 1) == 1 && ok == '1';
        close(ready[0]);
    }
    ~Child() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    pid_t Pid() const { return pid_; }
    bool Holding() const { return holding_; }
    // The child has ended (a zombie until reaped counts as ended).
    bool Ended() const {
        int status = 0;
        return waitpid(pid_, &status, WNOHANG) == pid_ || kill(pid_, 0) != 0;
    }

  private:
    pid_t pid_ = -1;
    bool holding_ = false;
};

class RestartManagerNativeOnly : public ::testing::Test {
  protected:
    void SetUp() override {
        module_ = LoadLibraryA("rstrtmgr.dll");
        ASSERT_NE(module_, nullptr);
        start_ = Proc<StartFn>(module_, "RmStartSession");
        end_ = Proc<EndFn>(module_, "RmEndSession");
        register_ = Proc<RegisterFn>(module_, "RmRegisterResources");
        getList_ = Proc<GetListFn>(module_, "RmGetList");
        shutdown_ = Proc<ShutdownFn>(module_, "RmShutdown");
        ASSERT_TRUE(start_ && end_ && register_ && getList_ && shutdown_);
        WCHAR key[CCH_RM_SESSION_KEY + 1] = {};
        ASSERT_EQ(start_(&session_, 0, key), DWORD(ERROR_SUCCESS));
        EXPECT_EQ(Narrow(key).size(), size_t(CCH_RM_SESSION_KEY));
        // A native folder: the forked children open the files by these names.
        char pattern[] = "/tmp/vt-rm-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = std::string(pattern) + "/";
    }
    void TearDown() override {
        if (end_) {
            end_(session_);
        }
        FreeLibrary(module_);
        if (!dir_.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(dir_, ignored);
        }
    }
    // Makes a file and registers it; its path.
    std::string RegisteredFile(const std::string& name) {
        std::string path = dir_ + name;
        WriteBytes(path, "held");
        std::vector<WCHAR> wide = Wide(path);
        LPCWSTR names[] = {wide.data()};
        EXPECT_EQ(register_(session_, 1, names, 0, nullptr, 0, nullptr), DWORD(ERROR_SUCCESS));
        return path;
    }
    std::vector<RM_PROCESS_INFO> List() {
        std::vector<RM_PROCESS_INFO> infos(8);
        UINT needed = 0;
        UINT count = static_cast<UINT>(infos.size());
        DWORD reasons = 99;
        EXPECT_EQ(getList_(session_, &needed, &count, infos.data(), &reasons),
                  DWORD(ERROR_SUCCESS));
        EXPECT_EQ(needed, count);
        EXPECT_EQ(reasons, DWORD(RmRebootReasonNone));
        infos.resize(count);
        return infos;
    }

    HMODULE module_ = nullptr;
    StartFn start_ = nullptr;
    EndFn end_ = nullptr;
    RegisterFn register_ = nullptr;
    GetListFn getList_ = nullptr;
    ShutdownFn shutdown_ = nullptr;
    DWORD session_ = 0;
    std::string dir_;
};

TEST_F(RestartManagerNativeOnly, NamesEachProcessThatHoldsAFileOpenOrMapped) {
    const char* program = nullptr;
    std::string self;
    {
        char buffer[4096] = {};
        ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
        ASSERT_GT(length, 0);
        self = std::string(buffer);
        program = self.c_str() + self.find_last_of('/') + 1;
    }
    RegisteredFile("free.dll");
    EXPECT_TRUE(List().empty()) << "nothing holds the file yet";
    for (Hold how : {Hold::Open, Hold::Mapped}) {
        SCOPED_TRACE(how == Hold::Open ? "open" : "mapped");
        Child child(RegisteredFile(how == Hold::Open ? "open.dll" : "mapped.dll"), how);
        ASSERT_TRUE(child.Holding());
        std::vector<RM_PROCESS_INFO> list = List();
        ASSERT_EQ(list.size(), 1u);
        EXPECT_EQ(list[0].Process.dwProcessId, DWORD(child.Pid()));
        EXPECT_EQ(Narrow(list[0].strAppName), program); // the forked copy of this program
        EXPECT_EQ(list[0].AppStatus, ULONG(RmStatusRunning));
    }
    // The program's own descriptors never count: it opened the files too.
    HANDLE own = CreateFileA((dir_ + "free.dll").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(own, INVALID_HANDLE_VALUE);
    UINT needed = 0;
    UINT count = 0;
    DWORD reasons = 0;
    EXPECT_EQ(getList_(session_, &needed, &count, nullptr, &reasons), DWORD(ERROR_SUCCESS));
    EXPECT_EQ(needed, 0u);
    EXPECT_EQ(reasons, DWORD(RmRebootReasonDetectedSelf));
    CloseHandle(own);
}

TEST_F(RestartManagerNativeOnly, TooSmallAListAsksForMoreAndBadArgumentsAreRefused) {
    std::string path = RegisteredFile("busy.dll");
    Child first(path, Hold::Open);
    Child second(path, Hold::Mapped);
    ASSERT_TRUE(first.Holding() && second.Holding());
    RM_PROCESS_INFO one[1];
    UINT needed = 0;
    UINT count = 1;
    DWORD reasons = 0;
    EXPECT_EQ(getList_(session_, &needed, &count, one, &reasons), DWORD(ERROR_MORE_DATA));
    EXPECT_EQ(needed, 2u);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(List().size(), 2u);

    struct Case {
        const char* what;
        DWORD result;
        DWORD expected;
    } cases[] = {
        {"list of an unknown session", getList_(session_ + 100, &needed, &count, one, &reasons),
         ERROR_INVALID_HANDLE},
        {"list without reasons", getList_(session_, &needed, &count, one, nullptr),
         ERROR_INVALID_PARAMETER},
        {"register in an unknown session",
         register_(session_ + 100, 0, nullptr, 0, nullptr, 0, nullptr), ERROR_INVALID_HANDLE},
        {"register files without names", register_(session_, 1, nullptr, 0, nullptr, 0, nullptr),
         ERROR_INVALID_PARAMETER},
        {"shut down an unknown session", shutdown_(session_ + 100, 0, nullptr),
         ERROR_INVALID_HANDLE},
        {"shut down with unknown flags", shutdown_(session_, 0x100, nullptr),
         ERROR_INVALID_PARAMETER},
        {"end an unknown session", end_(session_ + 100), ERROR_INVALID_HANDLE},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.result, c.expected) << c.what;
    }
    EXPECT_FALSE(first.Ended()) << "a refused shutdown ends nothing";
}

TEST_F(RestartManagerNativeOnly, ShutdownAsksToEndAndForcesOnlyWhenTold) {
    // A short wait for the processes asked to end, so the refusal is quick.
    SetEnvironmentVariableA("VANTREL_SHUTDOWN_WAIT_MS", "300");
    std::string path = RegisteredFile("busy.dll");
    {
        Child polite(path, Hold::Open);
        ASSERT_TRUE(polite.Holding());
        EXPECT_EQ(shutdown_(session_, 0, nullptr), DWORD(ERROR_SUCCESS));
        EXPECT_TRUE(polite.Ended());
    }
    Child stubborn(path, Hold::IgnoringTerm);
    ASSERT_TRUE(stubborn.Holding());
    EXPECT_EQ(shutdown_(session_, 0, nullptr), DWORD(ERROR_FAIL_SHUTDOWN));
    EXPECT_FALSE(stubborn.Ended());
    EXPECT_EQ(List().size(), 1u);
    EXPECT_EQ(shutdown_(session_, RmForceShutdown, nullptr), DWORD(ERROR_SUCCESS));
    EXPECT_TRUE(stubborn.Ended());
    SetEnvironmentVariableA("VANTREL_SHUTDOWN_WAIT_MS", nullptr);
}

TEST(RestartManagerNativeFamilies, OnlyTheNtFamilyHasIt_NativeOnly) {
    // Windows of the 95 family has no rstrtmgr.dll; the program then skips
    // the question.
    SetEnvironmentVariableA("VANTREL_PLATFORM", "win95");
    SetLastError(0);
    EXPECT_EQ(LoadLibraryA("rstrtmgr.dll"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_MOD_NOT_FOUND));
    SetEnvironmentVariableA("VANTREL_PLATFORM", nullptr);
    HMODULE module = LoadLibraryA("RSTRTMGR.DLL");
    EXPECT_NE(module, nullptr);
    EXPECT_EQ(GetProcAddress(module, "RmRestart"), nullptr); // not implemented
    FreeLibrary(module);
}

} // namespace
