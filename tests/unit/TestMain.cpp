// The unit tests' main(). A test that unregisters a server starts this
// program again as the server host, as the uninstaller starts itself.
#include "ktUtils2.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    int hostExitCode = 0;
    if (RunServerHostIfAsked(hostExitCode)) {
        return hostExitCode;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
