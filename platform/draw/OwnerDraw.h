// The request a control gets when it is asked to draw itself.
#pragma once

#include "platform/posix/WinTypes.h"

class CDC;
class QWidget;

// Item actions
constexpr UINT ODA_DRAWENTIRE = 0x0001;
constexpr UINT ODA_SELECT = 0x0002;
constexpr UINT ODA_FOCUS = 0x0004;
// Item states
constexpr UINT ODS_SELECTED = 0x0001;
constexpr UINT ODS_GRAYED = 0x0002;
constexpr UINT ODS_DISABLED = 0x0004;
constexpr UINT ODS_CHECKED = 0x0008;
constexpr UINT ODS_FOCUS = 0x0010;

constexpr UINT ODT_BUTTON = 4;
constexpr UINT ODT_COMBOBOX = 3;

struct DRAWITEMSTRUCT {
    UINT CtlType = 0;
    UINT CtlID = 0;
    UINT itemID = 0;
    UINT itemAction = 0;
    UINT itemState = 0;
    QWidget* hwndItem = nullptr;
    CDC* hDC = nullptr;
    RECT rcItem{};
    std::uintptr_t itemData = 0;
};
using LPDRAWITEMSTRUCT = DRAWITEMSTRUCT*;
