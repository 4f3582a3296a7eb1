// One control of a dialog, reached through its identifier (GetDlgItem). It
// wraps the Qt widget that stands for the control: the template's own widget,
// or the member object that took its place when the dialog bound it.
#pragma once

#include <QPointer>
#include <QWidget>
#include <memory>
#include <string>

#include "platform/window/DialogTemplate.h"
#include "platform/draw/GdiObjects.h"
#include "platform/core/Wnd.h"

class QFont;
class QWidget;
class CDialogEx;
class CFont;
struct FontData;
struct LOGFONT;

// SetWindowPos flags.
constexpr UINT SWP_NOSIZE = 0x0001;
constexpr UINT SWP_NOMOVE = 0x0002;
constexpr UINT SWP_NOZORDER = 0x0004;
constexpr UINT SWP_NOREDRAW = 0x0008;
constexpr UINT SWP_NOACTIVATE = 0x0010;
constexpr UINT SWP_SHOWWINDOW = 0x0040;
constexpr UINT SWP_HIDEWINDOW = 0x0080;

// ShowWindow commands.
constexpr int SW_HIDE = 0;
constexpr int SW_SHOW = 5;

// Check states.
constexpr UINT BST_UNCHECKED = 0;
constexpr UINT BST_CHECKED = 1;

class CDlgItem : public CWnd {
public:
    CDlgItem(CDialogEx* owner, const DialogItemTemplate& item, QWidget* widget);

    int GetDlgCtrlID() const { return m_item.id; }
    ControlKind Kind() const { return m_item.kind; }
    const DialogItemTemplate& Template() const { return m_item; }
    QWidget* Widget() const { return m_widget.data(); }
    QWidget* GetSafeHwnd() const override { return m_widget.data(); }

    void SetWindowText(const std::string& text);
    std::string GetWindowText() const;

    BOOL EnableWindow(BOOL enable = TRUE); // returns TRUE when it was disabled before
    BOOL IsWindowEnabled() const;
    BOOL ShowWindow(int cmd);
    BOOL IsWindowVisible() const;

    // Client rectangle: origin 0,0. A combo box's client area is its closed field.
    void GetClientRect(RECT* rect) const;
    // Window rectangle in screen coordinates (for a combo box: its field).
    void GetWindowRect(RECT* rect) const;
    // Moves within the dialog's client area. A combo box keeps the field height
    // its font gives it and takes the height as the extent of its opened list.
    void MoveWindow(int x, int y, int cx, int cy, BOOL repaint = TRUE);
    void MoveWindow(const RECT& rect, BOOL repaint = TRUE);
    BOOL SetWindowPos(const CWnd* insertAfter, int x, int y, int cx, int cy, UINT flags);

    // WM_SETFONT: the control uses the font object from now on (not owned;
    // it must outlive its use). WM_GETFONT: the font object it uses, the
    // dialog's own when none was given.
    void SetFont(const CFont* font, BOOL redraw = TRUE);
    const CFont* GetFont() const;
    // The same with a Qt font, for fonts that are no font objects.
    void SetQFont(const QFont& font, BOOL redraw = TRUE);
    QFont GetQFont() const;
    // WM_GETFONT, then GetObject: the description of the font in use.
    int GetLogFont(LOGFONT* logFont) const;

    void Invalidate(BOOL erase = TRUE);
    void InvalidateRect(const RECT* rect, BOOL erase = TRUE);

    // The next control in z-order (template order); null after the last.
    CDlgItem* GetNextWindow() const;

    // A combo box's dropped height in pixels (field plus list), as last set by
    // MoveWindow or SetWindowPos; 0 when never set.
    int DroppedHeight() const { return m_nDroppedHeight; }

private:
    friend class CDialogEx;
    void Attach(QWidget* widget)
    {
        m_widget = widget;
        m_hWnd = widget;
    }
    void ApplyDroppedHeight() const;

    CDialogEx* m_pOwner;
    QPointer<QWidget> m_widget;
    DialogItemTemplate m_item;
    int m_nDroppedHeight = 0;
    const CFont* m_pFont = nullptr;
    bool m_bNamesOthers = false; // another control takes its accessible name from this one
};
