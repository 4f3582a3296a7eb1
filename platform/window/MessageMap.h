// Message maps: a table per class that connects a message, or a control's
// notification code and identifier, to a member handler. WindowProc walks the
// class's table, then its base class's.
#pragma once

#include "platform/posix/WinTypes.h"

class CWnd;
class QIcon;

using UINT_PTR = std::uintptr_t;

// Messages the layer delivers.
constexpr UINT WM_SIZE = 0x0005;
constexpr UINT WM_PAINT = 0x000F;
constexpr UINT WM_CLOSE = 0x0010;
constexpr UINT WM_ICONERASEBKGND = 0x0027;
constexpr UINT WM_DRAWITEM = 0x002B;
constexpr UINT WM_SETFONT = 0x0030;
constexpr UINT WM_GETFONT = 0x0031;
constexpr UINT WM_QUERYDRAGICON = 0x0037;
constexpr UINT WM_COMMAND = 0x0111;
constexpr UINT WM_TIMER = 0x0113;
constexpr UINT WM_CTLCOLOR = 0x0019;
constexpr UINT WM_SIZING = 0x0214;

// Notification codes carried in the high word of WM_COMMAND's wParam.
constexpr UINT BN_CLICKED = 0;
constexpr UINT CBN_SELCHANGE = 1;
constexpr UINT CBN_DROPDOWN = 7;

// WM_SIZE types.
constexpr UINT SIZE_RESTORED = 0;
constexpr UINT SIZE_MINIMIZED = 1;
constexpr UINT SIZE_MAXIMIZED = 2;

// WM_SIZING: the edge being dragged.
constexpr UINT WMSZ_LEFT = 1;
constexpr UINT WMSZ_RIGHT = 2;
constexpr UINT WMSZ_TOP = 3;
constexpr UINT WMSZ_TOPLEFT = 4;
constexpr UINT WMSZ_TOPRIGHT = 5;
constexpr UINT WMSZ_BOTTOM = 6;
constexpr UINT WMSZ_BOTTOMLEFT = 7;
constexpr UINT WMSZ_BOTTOMRIGHT = 8;

// WM_CTLCOLOR control types.
constexpr UINT CTLCOLOR_EDIT = 1;
constexpr UINT CTLCOLOR_BTN = 3;
constexpr UINT CTLCOLOR_DLG = 4;
constexpr UINT CTLCOLOR_STATIC = 6;

constexpr WORD LOWORD(UINT_PTR v) { return static_cast<WORD>(v & 0xFFFF); }
constexpr WORD HIWORD(UINT_PTR v) { return static_cast<WORD>((v >> 16) & 0xFFFF); }
constexpr WPARAM MAKEWPARAM(UINT lo, UINT hi) { return static_cast<WPARAM>((lo & 0xFFFF) | ((hi & 0xFFFF) << 16)); }
constexpr LPARAM MAKELPARAM(UINT lo, UINT hi) { return static_cast<LPARAM>((lo & 0xFFFF) | ((hi & 0xFFFF) << 16)); }

class CCtlColor;

namespace msgmap {

using Thunk = LRESULT (*)(CWnd* self, WPARAM wParam, LPARAM lParam);

// What WM_QUERYDRAGICON's lParam points at: the handler's answer.
struct DragIconAnswer {
    const QIcon* icon = nullptr;
};
// What WM_CTLCOLOR carries: lParam points at the colour request; wParam is the control's CWnd.
struct CtlColorRequest {
    CCtlColor* dc;
    CWnd* control;
    UINT ctlType;
};

template <class T, void (T::*F)()>
LRESULT Command(CWnd* self, WPARAM, LPARAM)
{
    (static_cast<T*>(self)->*F)();
    return 0;
}
template <class T, LRESULT (T::*F)(WPARAM, LPARAM)>
LRESULT Message(CWnd* self, WPARAM wParam, LPARAM lParam)
{
    return (static_cast<T*>(self)->*F)(wParam, lParam);
}
template <class T, void (T::*F)(UINT_PTR)>
LRESULT Timer(CWnd* self, WPARAM wParam, LPARAM)
{
    (static_cast<T*>(self)->*F)(static_cast<UINT_PTR>(wParam));
    return 0;
}
template <class T, void (T::*F)(UINT, int, int)>
LRESULT Size(CWnd* self, WPARAM wParam, LPARAM lParam)
{
    (static_cast<T*>(self)->*F)(static_cast<UINT>(wParam), LOWORD(static_cast<UINT_PTR>(lParam)),
                                HIWORD(static_cast<UINT_PTR>(lParam)));
    return 0;
}
template <class T, void (T::*F)(UINT, RECT*)>
LRESULT Sizing(CWnd* self, WPARAM wParam, LPARAM lParam)
{
    (static_cast<T*>(self)->*F)(static_cast<UINT>(wParam), reinterpret_cast<RECT*>(lParam));
    return TRUE;
}
template <class T, const QIcon* (T::*F)()>
LRESULT DragIcon(CWnd* self, WPARAM, LPARAM lParam)
{
    reinterpret_cast<DragIconAnswer*>(lParam)->icon = (static_cast<T*>(self)->*F)();
    return 0;
}
template <class T, void (T::*F)(CCtlColor*, CWnd*, UINT)>
LRESULT CtlColor(CWnd* self, WPARAM, LPARAM lParam)
{
    auto* r = reinterpret_cast<CtlColorRequest*>(lParam);
    (static_cast<T*>(self)->*F)(r->dc, r->control, r->ctlType);
    return 0;
}
template <class T, void (T::*F)(int, void*)>
LRESULT DrawItem(CWnd* self, WPARAM wParam, LPARAM lParam)
{
    (static_cast<T*>(self)->*F)(static_cast<int>(wParam), reinterpret_cast<void*>(lParam));
    return TRUE;
}

} // namespace msgmap

struct AFX_MSGMAP_ENTRY {
    UINT nMessage; // WM_COMMAND for control notifications
    UINT nCode;    // notification code, 0 for plain messages
    UINT nID;      // first control identifier, 0 for plain messages
    UINT nLastID;  // last control identifier of the range
    msgmap::Thunk pfn;
};

struct AFX_MSGMAP {
    const AFX_MSGMAP* (*pfnGetBaseMap)();
    const AFX_MSGMAP_ENTRY* lpEntries;
};

// Finds the entry for a message in a map chain; null when no class handles it.
const AFX_MSGMAP_ENTRY* FindMessageEntry(const AFX_MSGMAP* map, UINT message, WPARAM wParam);

#define DECLARE_MESSAGE_MAP()                                                                                          \
protected:                                                                                                             \
    static const AFX_MSGMAP* GetThisMessageMap();                                                                      \
    const AFX_MSGMAP* GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                                                         \
    const AFX_MSGMAP* theClass::GetMessageMap() const { return GetThisMessageMap(); }                                  \
    const AFX_MSGMAP* theClass::GetThisMessageMap()                                                                    \
    {                                                                                                                  \
        using ThisClass = theClass;                                                                                    \
        using TheBaseClass = baseClass;                                                                                \
        static const AFX_MSGMAP_ENTRY _messageEntries[] = {

#define END_MESSAGE_MAP()                                                                                              \
    {0, 0, 0, 0, nullptr}                                                                                              \
    }                                                                                                                  \
    ;                                                                                                                  \
    static const AFX_MSGMAP messageMap = {&TheBaseClass::GetThisMessageMap, &_messageEntries[0]};                      \
    return &messageMap;                                                                                                \
    }

#define ON_COMMAND(id, memberFxn) {WM_COMMAND, BN_CLICKED, (UINT)(id), (UINT)(id), &msgmap::Command<ThisClass, memberFxn>},
#define ON_BN_CLICKED(id, memberFxn) {WM_COMMAND, BN_CLICKED, (UINT)(id), (UINT)(id), &msgmap::Command<ThisClass, memberFxn>},
#define ON_CBN_SELCHANGE(id, memberFxn)                                                                                \
    {WM_COMMAND, CBN_SELCHANGE, (UINT)(id), (UINT)(id), &msgmap::Command<ThisClass, memberFxn>},
#define ON_CBN_DROPDOWN(id, memberFxn)                                                                                 \
    {WM_COMMAND, CBN_DROPDOWN, (UINT)(id), (UINT)(id), &msgmap::Command<ThisClass, memberFxn>},
#define ON_MESSAGE(message, memberFxn) {(UINT)(message), 0, 0, 0, &msgmap::Message<ThisClass, memberFxn>},
#define ON_WM_PAINT() {WM_PAINT, 0, 0, 0, &msgmap::Command<ThisClass, &ThisClass::OnPaint>},
#define ON_WM_TIMER() {WM_TIMER, 0, 0, 0, &msgmap::Timer<ThisClass, &ThisClass::OnTimer>},
#define ON_WM_SIZE() {WM_SIZE, 0, 0, 0, &msgmap::Size<ThisClass, &ThisClass::OnSize>},
#define ON_WM_SIZING() {WM_SIZING, 0, 0, 0, &msgmap::Sizing<ThisClass, &ThisClass::OnSizing>},
#define ON_WM_QUERYDRAGICON() {WM_QUERYDRAGICON, 0, 0, 0, &msgmap::DragIcon<ThisClass, &ThisClass::OnQueryDragIcon>},
#define ON_WM_CTLCOLOR() {WM_CTLCOLOR, 0, 0, 0, &msgmap::CtlColor<ThisClass, &ThisClass::OnCtlColor>},
#define ON_WM_DRAWITEM() {WM_DRAWITEM, 0, 0, 0, &msgmap::DrawItem<ThisClass, &ThisClass::OnDrawItem>},
