// What the registry store offers beyond the Win32 calls, for the vantrel-reg
// tool and the native tests: protected keys and one transaction spanning many
// calls. Not part of the program's view of the platform.
#pragma once

#include "pal.h"

namespace pal {

// Marks an existing key protected (or releases it): a protected key cannot be
// deleted, gets no new values or subkeys and keeps its values
// (ERROR_ACCESS_DENIED), so tests can reproduce a key that resists deletion.
LSTATUS RegProtectKey(HKEY root, const char* subKey, bool protect = true);

// Groups every registry call made during its life into one transaction:
// nothing reaches the store unless Commit() succeeds; the destructor rolls
// back an uncommitted batch. Batches do not nest.
class RegBatch {
  public:
    RegBatch();
    ~RegBatch();
    RegBatch(const RegBatch&) = delete;
    RegBatch& operator=(const RegBatch&) = delete;
    // False when the store could not start the transaction.
    bool Active() const { return active_; }
    LSTATUS Commit();

  private:
    bool active_ = false;
};

} // namespace pal
