// The restart-time list carried out as the system does when it starts.
#pragma once

// Works through PendingFileRenameOperations and deletes it; returns how many
// pairs were carried out.
int CarryOutRestartList();
