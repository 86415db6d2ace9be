// The programs that the install log names for before removal ("PreRunApp",
// any of which can call the uninstall off) and after it ("RunApp").
#include "Phases.h"

#include "ktFileUtils.h"
#include "ktLedger.h"
#include "ktStrUtils.h"

#include <cstdint>
#include <string>

namespace {

// Field 4 of an entry to the shell's show value.
int ShowValue(const std::string& field) {
    int32_t mode = 1;
    if (!TryStrToInt(field, mode)) {
        mode = 1;
    }
    switch (mode) {
    case 0:
        return SW_HIDE;
    case 2:
        return SW_SHOWMAXIMIZED;
    case 3:
        return SW_SHOWMINIMIZED;
    default:
        return SW_SHOW;
    }
}

} // namespace

int RunProgramEntry(const std::string& value) {
    return RunProgramEntry(value, "=" + value);
}

int RunProgramEntry(const std::string& value, const std::string& entry) {
    const CharSet comma = CommaSet();
    std::string file = UnquoteText(GetField(1, value, comma), '"');
    // After CopyFiles the program may be gone: in a preview too.
    if (!Ledger().FileThere(file)) {
        Ledger().ProgramMissing(entry, file);
        return 0;
    }
    std::string parameters = GetField(2, value, comma);
    std::string directory = GetField(3, value, comma);
    int show = ShowValue(GetField(4, value, comma));
    std::string caption = UnquoteText(GetField(5, value, comma), '"');
    if (!caption.empty()) {
        AddProgressCaption(caption);
    }
    // A silent run lets the shell show no error box of its own either.
    return Ledger().RunProgram(entry, ProgressWindow, file, parameters, directory, show,
                               RunOptions.silent);
}

bool RunProgramsBefore() {
    Ledger().SetPhase("PreRunApp");
    LoadSection("PreRunApp");
    for (int i = 0; i < SectionEntries.Count(); ++i) {
        if (RunProgramEntry(ValueOf(SectionEntries[i]), SectionEntries[i]) != 0) {
            return false;
        }
    }
    return true;
}

void RunProgramsAfter() {
    Ledger().SetPhase("RunApp");
    LoadSection("RunApp");
    for (int i = 0; i < SectionEntries.Count(); ++i) {
        RunProgramEntry(ValueOf(SectionEntries[i]), SectionEntries[i]);
    }
}
