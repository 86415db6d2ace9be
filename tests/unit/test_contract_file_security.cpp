// Contract of a file's rights as a security descriptor: GetFileSecurityA
// tells the size it needs and gives a self-relative descriptor, which
// SetFileSecurityA gives to another file of the same owner. The same test
// runs over pal/ natively and over the real API under Wine.
#include "TestSupport.h"

#include <string>
#include <vector>

namespace {

const SECURITY_INFORMATION kRights =
    OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;

std::vector<BYTE> Descriptor(const std::string& path) {
    DWORD needed = 0;
    SetLastError(0);
    EXPECT_FALSE(GetFileSecurityA(path.c_str(), kRights, nullptr, 0, &needed)) << path;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER)) << path;
    EXPECT_GE(needed, 20u) << path; // the header of a self-relative descriptor
    std::vector<BYTE> descriptor(needed);
    EXPECT_TRUE(GetFileSecurityA(path.c_str(), kRights, descriptor.data(), needed, &needed))
        << path;
    return descriptor;
}

using ContractFileSecurity = TempDirTest;

TEST_F(ContractFileSecurity, ADescriptorGoesFromOneFileToAnother) {
    const std::string first = PathOf("first.ini");
    const std::string second = PathOf("second.ini");
    WriteBytes(first, "1");
    WriteBytes(second, "2");
    std::vector<BYTE> descriptor = Descriptor(first);
    ASSERT_GE(descriptor.size(), 20u);
    EXPECT_EQ(descriptor[0], 1); // revision
    EXPECT_NE(descriptor[3] & 0x80, 0) << "not self-relative";
    ASSERT_TRUE(SetFileSecurityA(second.c_str(), kRights, descriptor.data()));
    EXPECT_EQ(Descriptor(second), descriptor);
    EXPECT_EQ(ReadBytes(second), "2");

    DWORD needed = 0;
    SetLastError(0);
    EXPECT_FALSE(GetFileSecurityA(PathOf("none.ini").c_str(), kRights, descriptor.data(),
                                  static_cast<DWORD>(descriptor.size()), &needed));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    SetLastError(0);
    EXPECT_FALSE(SetFileSecurityA(PathOf("none.ini").c_str(), kRights, descriptor.data()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

} // namespace
