// No shutdown part-way: while the phases run, the program refuses the end
// of the session. A hidden top-level window of its own (in every mode: the
// progress window has no procedure) answers WM_QUERYENDSESSION with FALSE,
// and where the system has ShutdownBlockReasonCreate it gives the reason
// (message 39) for that window and the progress window. If the session
// ends all the same (WM_ENDSESSION with TRUE), the run stops after the entry
// it is doing: ESessionEnded is raised out of the ledger, the log stays so
// that a rerun finishes the job, and the report gets its end line.
#pragma once

#include "winapi.h"

// Raised between two entries once the session has ended. Not a
// std::exception: no handler of ordinary errors may take it.
struct ESessionEnded {};

class TSessionGuard {
  public:
    TSessionGuard();
    TSessionGuard(const TSessionGuard&) = delete;
    TSessionGuard& operator=(const TSessionGuard&) = delete;
    // The block ends.
    ~TSessionGuard();

  private:
    HWND window_ = nullptr;
};

// The session ended while the phases ran.
bool SessionEnded();
