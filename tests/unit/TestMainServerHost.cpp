// The main() of the suites that unregister OLE servers. UnregisterServer
// starts its own program again as the server host, as the uninstaller starts
// itself, so these test programs must be able to act as the host too.
#include "ktServerHost.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    int hostExitCode = 0;
    if (RunServerHostIfAsked(hostExitCode)) {
        return hostExitCode;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
