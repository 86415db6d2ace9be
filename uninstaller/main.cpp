// The program entry: start-up, the run and shutdown, in this order, written
// out here rather than left to static constructors.
#include "UnVantrel.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    StartUp();
    int code = RunUninstall();
    ShutDown();
    return code;
}
