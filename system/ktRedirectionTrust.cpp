// Redirection trust, set once at start-up. With the policy enforced, the
// system refuses to follow, in this process, a junction or link created by a
// user who is not an administrator: an elevated uninstall that removes
// C:\Program Files\App\data cannot be led by such a link into C:\Windows.
#include "ktRedirectionTrust.h"

#include "winapi.h"

#include <cstddef>

namespace {

// PROCESS_MITIGATION_POLICY's ProcessRedirectionTrustPolicy and its flags;
// older headers lack them.
const int kProcessRedirectionTrustPolicy = 16;
const DWORD kEnforceRedirectionTrust = 0x1;

typedef BOOL(WINAPI* TSetProcessMitigationPolicy)(int policy, void* buffer, size_t length);

} // namespace

bool EnforceRedirectionTrust() {
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    if (kernel == nullptr) {
        return false;
    }
    FARPROC proc = GetProcAddress(kernel, "SetProcessMitigationPolicy");
    if (proc == nullptr) {
        return false;
    }
    DWORD flags = kEnforceRedirectionTrust;
    // A system that has the call but not this policy refuses it: nothing changes.
    return reinterpret_cast<TSetProcessMitigationPolicy>(reinterpret_cast<void*>(proc))(
               kProcessRedirectionTrustPolicy, &flags, sizeof flags) != FALSE;
}
