// The shape of the resources that a native program links in: the string
// table and the dialog templates, compiled from the same sources as the .rc
// of the Windows build. pal/ reads them through PalProgramResources(); it
// never includes the program's own headers.
#pragma once

#include "pal.h"

#include <cstddef>

struct PalStringEntry {
    UINT id;
    const char* text;
};

// One control of a dialog template; positions and sizes in dialog units.
struct PalDialogItem {
    const char* text;
    int id;
    const char* className; // "Static", "Button", "Edit", "ListBox" (any case)
    DWORD style;
    int x, y, cx, cy;
};

struct PalDialogTemplate {
    const char* name; // resource name, compared without regard to case
    int x, y, cx, cy;
    DWORD style;
    const char* caption;
    int pointSize;
    const char* fontName;
    const PalDialogItem* items;
    size_t itemCount;
};

struct PalResourceTable {
    const PalStringEntry* strings;
    size_t stringCount;
    const PalDialogTemplate* dialogs;
    size_t dialogCount;
};

// The program's resources. pal/ defines a weak default that has none; the
// program's resource table defines the strong one.
extern const PalResourceTable* PalProgramResources();
