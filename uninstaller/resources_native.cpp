// The native build's resources: the same texts and layouts as UnVantrel.rc,
// expanded from Texts.inc and Dialogs.inc into the table that pal/ reads.
#include "winapi.h"

#include "pal_resources.h"
#include "resource.h"

#include <iterator>

namespace {

const PalStringEntry strings[] = {
#define VANTREL_TEXT(id, text) {id, text},
#include "Texts.inc"
#undef VANTREL_TEXT
};

// First pass: each dialog's controls.
#define VANTREL_DIALOG(name, x, y, cx, cy, style, caption, pointSize, fontName)                    \
    const PalDialogItem name##_items[] = {
#define VANTREL_CONTROL(text, id, className, style, x, y, cx, cy)                                  \
    {text, id, className, static_cast<DWORD>(style), x, y, cx, cy},
#define VANTREL_DIALOG_END(name)                                                                   \
    }                                                                                              \
    ;
#include "Dialogs.inc"
#undef VANTREL_DIALOG
#undef VANTREL_CONTROL
#undef VANTREL_DIALOG_END

// Second pass: the dialogs themselves.
const PalDialogTemplate dialogs[] = {
#define VANTREL_DIALOG(name, x, y, cx, cy, style, caption, pointSize, fontName)                    \
    {#name,                                                                                        \
     x,                                                                                            \
     y,                                                                                            \
     cx,                                                                                           \
     cy,                                                                                           \
     static_cast<DWORD>(style),                                                                    \
     caption,                                                                                      \
     pointSize,                                                                                    \
     fontName,                                                                                     \
     name##_items,                                                                                 \
     std::size(name##_items)},
#define VANTREL_CONTROL(text, id, className, style, x, y, cx, cy)
#define VANTREL_DIALOG_END(name)
#include "Dialogs.inc"
#undef VANTREL_DIALOG
#undef VANTREL_CONTROL
#undef VANTREL_DIALOG_END
};

const PalResourceTable table = {strings, std::size(strings), dialogs, std::size(dialogs)};

} // namespace

const PalResourceTable* PalProgramResources() {
    return &table;
}
