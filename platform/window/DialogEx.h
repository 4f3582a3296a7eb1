// A dialog built from its template: a Qt dialog window holding one widget per
// template control, reached by identifier; a message map that routes control
// notifications, timers and the serial port's messages to member handlers; a
// modal loop of its own; and control binding (DDX_Control), through which a
// member widget takes the place of a template control.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <QFont>
#include <QIcon>
#include <QDialog>
#include <QPointer>
#include <QSize>

#include "platform/window/CtlColor.h"
#include "platform/window/DialogTemplate.h"
#include "platform/window/DlgItem.h"
#include "platform/window/MessageMap.h"
#include "platform/core/Wnd.h"

class QDialog;
class QEventLoop;
class QTimer;
class QWidget;
class CDialogEx;

struct CDataExchange {
    CDialogEx* m_pDlgWnd;
    BOOL m_bSaveAndValidate;
};

class CDialogEx : public CWnd {
public:
    explicit CDialogEx(const DialogTemplate& dialogTemplate, CWnd* parent = nullptr);
    ~CDialogEx() override;

    // Creates the window, binds the controls, runs OnInitDialog, shows the
    // dialog and runs its own modal loop until EndDialog. Returns the value
    // given to EndDialog (IDOK, IDCANCEL), or -1 when the window cannot be made.
    virtual int DoModal();
    // The same without the modal loop: the dialog stays up until EndDialog or
    // DestroyWindow. Returns FALSE when the window cannot be made.
    BOOL Create();
    void EndDialog(int result);
    void DestroyWindow();
    bool IsModalRunning() const { return m_pModalLoop != nullptr; }
    int ModalResult() const { return m_nModalResult; }
    const DialogTemplate& Template() const { return m_template; }

    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

    // Called with every dialog that enters its modal loop, once it is shown and
    // before the loop runs (tests drive nested dialogs through it).
    static void SetModalHook(std::function<void(CDialogEx&)> hook);

    // The window a modal dialog or message box without an explicit owner
    // belongs to: the open modal window, else the application's main window,
    // else the dialog shown last. Never the window of `except`.
    static QWidget* DefaultOwner(const CDialogEx* except = nullptr);

    // Controls by identifier.
    CDlgItem* GetDlgItem(int id) const;
    const std::vector<std::unique_ptr<CDlgItem>>& Controls() const { return m_controls; }
    // The first control in z-order (template order); null when there is none.
    CDlgItem* GetTopWindow() const;
    void SetDlgItemText(int id, const std::string& text);
    std::string GetDlgItemText(int id) const;
    int GetDlgItemText(int id, std::string& text) const;
    void CheckDlgButton(int id, UINT check);
    UINT IsDlgButtonChecked(int id) const;
    void CheckRadioButton(int firstId, int lastId, int checkId);

    // Replaces the template control id with the member widget (DDX_Control).
    // False when there is no such control or the member holds it already.
    bool SubclassDlgItem(int id, QWidget* member);

    // Window timers: restarting an identifier replaces its timer.
    UINT_PTR SetTimer(UINT_PTR id, UINT elapseMs);
    BOOL KillTimer(UINT_PTR id);
    bool HasTimer(UINT_PTR id) const;
    // Interval of a running timer in milliseconds, -1 when none runs.
    int TimerInterval(UINT_PTR id) const;

    void GetClientRect(RECT* rect) const;
    void GetWindowRect(RECT* rect) const;
    void ScreenToClient(RECT* rect) const;
    void ScreenToClient(POINT* point) const;
    void ClientToScreen(RECT* rect) const;
    void MoveWindow(int x, int y, int cx, int cy, BOOL repaint = TRUE);
    void Invalidate(BOOL erase = TRUE);
    void InvalidateRect(const RECT* rect, BOOL erase = TRUE);
    BOOL IsIconic() const;
    BOOL IsZoomed() const;
    void SetIcon(const QIcon& icon, BOOL bigIcon);
    QIcon GetIcon(BOOL bigIcon) const;
    // The dialog's own font (the template's face and size), as the widgets use
    // it and as a font object (LOGFONT: the character height in pixels).
    QFont GetQFont() const;
    const CFont* GetFont() const { return &m_fontDialog; }
    const CFont& DialogFontObject() const { return m_fontDialog; }
    int GetLogFont(LOGFONT* logFont) const { return logFont ? m_fontDialog.GetLogFont(logFont) : 0; }
    // The base units the template was laid out with.
    DialogBaseUnits BaseUnits() const { return m_baseUnits; }
    void SetWindowText(const std::string& text);
    std::string GetWindowText() const;

protected:
    virtual const AFX_MSGMAP* GetMessageMap() const;
    static const AFX_MSGMAP* GetThisMessageMap();

    virtual BOOL OnInitDialog();
    virtual void DoDataExchange(CDataExchange* pDX);
    BOOL UpdateData(BOOL saveAndValidate = TRUE);
    // Enter (when no focused push button takes it): data exchange, then IDOK.
    virtual void OnOK();
    // Escape and the close box: IDCANCEL.
    virtual void OnCancel();

    // The default handling of the messages that a map may take over.
    void OnPaint();
    void OnTimer(UINT_PTR id);
    void OnSize(UINT type, int cx, int cy);
    void OnSizing(UINT side, RECT* rect);
    void OnCtlColor(CCtlColor* dc, CWnd* control, UINT ctlType);
    void OnDrawItem(int id, void* drawItem);

    // Asks the map (WM_CTLCOLOR) how each control's text is to look and applies it.
    void ApplyControlColours();

private:
    friend class CDialogWindow;
    friend class CDlgItem;

    bool CreateDialogWindow();
    BOOL CreateAndShow(bool modal);
    // Resizes a window larger than its screen's work area down to it (the
    // layout scaled as for any resize) and keeps its frame on the screen.
    void FitToScreen();
    bool IsSizable() const;
    QWidget* MakeControl(const DialogItemTemplate& item);
    void ConfigureControl(CDlgItem& control, QWidget* widget);
    void ConnectNotifications(CDlgItem& control, QWidget* widget);
    void UpdateTabOrder();
    void UpdateAccessibleNames();
    void SendCommand(int id, UINT code);
    void HandleKey(int key, bool& handled);
    void HandleClose();
    void HandlePaint();
    void HandleResize(int width, int height);
    void ApplySizingMinimum();
    void HandleDropDown(CDlgItem& control);

    DialogTemplate m_template;
    CWnd* m_pParent;
    QPointer<QDialog> m_pWindow;
    std::vector<std::unique_ptr<CDlgItem>> m_controls;
    std::map<int, CDlgItem*> m_byId;
    std::vector<QPointer<QWidget>> m_bound;             // member widgets that took a control's place
    std::vector<QMetaObject::Connection> m_connections; // notifications of every control
    QObject* m_pEventFilter = nullptr;                  // drop-down and key watcher
    std::map<UINT_PTR, std::unique_ptr<QTimer>> m_timers;
    DialogBaseUnits m_baseUnits;
    QFont m_dialogFont;
    CFont m_fontDialog;
    QSize m_lastReportedSize;
    UINT m_nLastReportedType = SIZE_RESTORED;
    bool m_bSizeReported = false;
    QIcon m_bigIcon;
    QIcon m_smallIcon;
    QEventLoop* m_pModalLoop = nullptr;
    int m_nModalResult = -1;
    bool m_bEnded = false;
    bool m_bInPaint = false;
    // Shown, and the window manager's frame not yet measured against the screen.
    bool m_bFitPending = false;
};

// Binds a member widget to a template control by identifier; the member then
// runs its PreSubclassWindow, where it has one.
template <class Member>
void DDX_Control(CDataExchange* pDX, int id, Member& member)
{
    if (!pDX->m_pDlgWnd->SubclassDlgItem(id, &member))
        return;
    if constexpr (requires { member.PreSubclassWindow(); })
        member.PreSubclassWindow();
}

// Combo box operations as the system's code uses them. Positions are 0-based;
// -1 (CB_ERR) means no item.
class QComboBox;
constexpr int CB_ERR = -1;
int ComboInsertString(QComboBox& combo, int index, const std::string& text);
int ComboAddString(QComboBox& combo, const std::string& text); // sorted insertion (CBS_SORT)
int ComboSetCurSel(QComboBox& combo, int index);
int ComboGetCurSel(const QComboBox& combo);
int ComboGetCount(const QComboBox& combo);
int ComboGetLBText(const QComboBox& combo, int index, std::string& text);
void ComboResetContent(QComboBox& combo);
