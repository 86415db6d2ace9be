// Under Wine the registry is the system's: no protected keys (Wine does not
// enforce key security) and no access to the store behind it.
#include "RegTestSupport.h"

bool RegistryIsNativeStore() {
    return false;
}

bool ProtectKeyForTest(HKEY, const std::string&, bool) {
    return false;
}

bool ValueCommittedInStore(const std::string&, const std::string&) {
    return false;
}

bool AddSubKeyFromOutside(const std::string&, const std::string&) {
    return false;
}

void InRegistryBatch(bool, void (*action)(void*), void* context) {
    action(context);
}
