// The run's policy, set once from the command line's options. The server
// host (ktServerHost) reads the command line too, for its own marker, before
// the run starts; both split it with SplitCommandLine (ktCommandLine.h).
#pragma once

#include <string>
#include <vector>

struct TRunOptions {
    bool any = false;          // at least one option was given
    bool silent = false;       // /S: no window, no box
    bool passive = false;      // /PASSIVE: the progress window only
    bool preview = false;      // /PREVIEW: change nothing, report what would be done
    bool sharedRemove = false; // /SHARED=REMOVE: unused shared files go
    bool closeApps = false;    // /CLOSEAPPS: unattended, close the applications that hold files
    std::string reportPath;    // /LOG=FILE; empty when no report is asked for
    // The install log: the first argument that is not an option; empty when
    // there is none.
    std::string logPath;
    // The options as given on the command line, in their order.
    std::vector<std::string> given;
    // The first option that is unknown or has a bad value (or /PREVIEW
    // without /LOG), as given; empty when the options are sound.
    std::string badOption;

    bool Valid() const { return badOption.empty(); }
    // No one is there to answer: no confirmation, no shared-file question.
    bool Unattended() const { return silent || passive || preview; }
    // Boxes are shown (error boxes included).
    bool ShowsBoxes() const { return !silent; }
};

// Reads the arguments after the program's name. Options may stand before
// and after the log path. An argument that begins with "/" is an option; one
// that begins with "-" is an option when its name is a known option's (so
// "-S" is /S), else it is an argument like any other. Names are compared
// without regard to letter case. The first argument that is not an option is
// the log path; later ones are ignored. Options: /S, /PASSIVE, /PREVIEW,
// /LOG=FILE, /SHARED=REMOVE, /CLOSEAPPS; a later repetition replaces an earlier one.
TRunOptions ParseOptions(const std::vector<std::string>& arguments);
