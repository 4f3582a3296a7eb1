// Dialog templates: a table of controls with positions and sizes in dialog
// units, and the conversion of dialog units to pixels through the base units
// of the dialog's font.
#pragma once

#include <string>
#include <vector>

#include "platform/posix/WinTypes.h"

class QFont;

// Window styles.
constexpr DWORD WS_POPUP = 0x80000000;
constexpr DWORD WS_CHILD = 0x40000000;
constexpr DWORD WS_VISIBLE = 0x10000000;
constexpr DWORD WS_DISABLED = 0x08000000;
constexpr DWORD WS_CAPTION = 0x00C00000;
constexpr DWORD WS_BORDER = 0x00800000;
constexpr DWORD WS_VSCROLL = 0x00200000;
constexpr DWORD WS_SYSMENU = 0x00080000;
constexpr DWORD WS_THICKFRAME = 0x00040000;
constexpr DWORD WS_GROUP = 0x00020000;
constexpr DWORD WS_TABSTOP = 0x00010000;
constexpr DWORD WS_MINIMIZEBOX = 0x00020000;
constexpr DWORD WS_MAXIMIZEBOX = 0x00010000;
constexpr DWORD DS_MODALFRAME = 0x00000080;
constexpr DWORD DS_SETFONT = 0x00000040;
constexpr DWORD DS_FIXEDSYS = 0x00000008;
constexpr DWORD WS_EX_STATICEDGE = 0x00020000;
constexpr DWORD WS_EX_APPWINDOW = 0x00040000;

// Control styles.
constexpr DWORD SS_LEFT = 0x0000;
constexpr DWORD SS_CENTER = 0x0001;
constexpr DWORD SS_RIGHT = 0x0002;
constexpr DWORD SS_SUNKEN = 0x1000;
constexpr DWORD BS_PUSHBUTTON = 0x0000;
constexpr DWORD BS_DEFPUSHBUTTON = 0x0001;
constexpr DWORD BS_AUTOCHECKBOX = 0x0003;
constexpr DWORD BS_GROUPBOX = 0x0007;
constexpr DWORD BS_AUTORADIOBUTTON = 0x0009;
constexpr DWORD ES_LEFT = 0x0000;
constexpr DWORD ES_AUTOHSCROLL = 0x0080;
constexpr DWORD ES_NUMBER = 0x2000;
constexpr DWORD CBS_DROPDOWN = 0x0002;
constexpr DWORD CBS_SORT = 0x0100;

enum class ControlKind {
    Static,      // left-aligned text; WS_EX_STATICEDGE or SS_SUNKEN give it a sunken edge
    GroupBox,    // a frame with a title; takes no input
    PushButton,
    RadioButton, // automatic: the platform checks it and unchecks its siblings
    CheckBox,    // automatic
    Edit,        // one line; ES_NUMBER takes digits only
    ComboBox,    // drop-down with an edit field
};

struct DialogItemTemplate {
    int id;
    ControlKind kind;
    const char* text; // UTF-8
    int x, y, cx, cy; // dialog units
    DWORD style = WS_CHILD | WS_VISIBLE;
    DWORD exStyle = 0;
    // A label whose text names this control for assistive technology (0: none).
    int labelId = 0;
};

struct DialogTemplate {
    int id;
    const char* caption; // UTF-8
    int cx, cy;          // client size in dialog units
    const char* fontFace;
    int pointSize;
    DWORD style;
    DWORD exStyle;
    std::vector<DialogItemTemplate> items; // template order: drawing and tab order
};

// Rounded a * b / c, halves away from zero; -1 when c is 0.
int MulDiv(int a, int b, int c);

// Base units of a font as the dialog manager measures them: the average width of
// the 52 Latin letters, rounded, and the font's character cell height.
struct DialogBaseUnits {
    int cx = 0;
    int cy = 0;
};
DialogBaseUnits MeasureDialogBaseUnits(const QFont& font);

// Dialog units to pixels: x * cx / 4 and y * cy / 8.
RECT DialogUnitsToPixels(const DialogBaseUnits& base, int x, int y, int cx, int cy);

// Screen resolution in dots per inch (96 when there is no screen).
int ScreenLogPixelsY();

// A font of the given point size at screen resolution, as a dialog font or
// CreatePointFont (tenths of a point) gives it: the character height in pixels
// is MulDiv(points, dpi, 72).
QFont MakePointFont(const std::string& face, int pointTenths);
