// The program entry: start-up, the run and shutdown, in this order, written
// out here rather than left to static constructors.
#include "UnVantrel.h"
#include "ktServerHost.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    // A copy of the program started to call one OLE server does only that.
    int hostExitCode = 0;
    if (RunServerHostIfAsked(hostExitCode)) {
        return hostExitCode;
    }
    StartUp();
    int code = RunUninstall();
    ShutDown();
    return code;
}
