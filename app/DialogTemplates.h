// The dialog templates of the tool.
#pragma once

#include "platform/window/DialogTemplate.h"

// Template 102: the main dialog.
const DialogTemplate& TelvarDialogTemplate();
// Template 130: the record export dialog.
const DialogTemplate& SaveDialogTemplate();
