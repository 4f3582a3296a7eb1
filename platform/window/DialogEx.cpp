#include "platform/window/DialogEx.h"

#include <algorithm>
#include <cstring>

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialog>
#include <QEventLoop>
#include <QFontMetrics>
#include <QFrame>
#include <QGuiApplication>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QMoveEvent>
#include <QResizeEvent>
#include <QScreen>
#include <QTimer>

#include "platform/window/DialogLook.h"
#include "platform/draw/GdiObjects.h"
#include "platform/core/MessageBox.h"
#include "platform/window/QtMessagePresenter.h"
#include "platform/window/WinApp.h"
#include "platform/window/WidgetText.h"

// ---------------------------------------------------------------------------
// Message maps

const AFX_MSGMAP_ENTRY* FindMessageEntry(const AFX_MSGMAP* map, UINT message, WPARAM wParam)
{
    const UINT code = HIWORD(wParam);
    const UINT id = LOWORD(wParam);
    for (; map != nullptr; map = map->pfnGetBaseMap ? map->pfnGetBaseMap() : nullptr) {
        for (const AFX_MSGMAP_ENTRY* e = map->lpEntries; e->pfn != nullptr; ++e) {
            if (e->nMessage != message)
                continue;
            if (message != WM_COMMAND)
                return e;
            if (e->nCode == code && id >= e->nID && id <= e->nLastID)
                return e;
        }
    }
    return nullptr;
}

const AFX_MSGMAP* CDialogEx::GetMessageMap() const { return GetThisMessageMap(); }

const AFX_MSGMAP* CDialogEx::GetThisMessageMap()
{
    using ThisClass = CDialogEx;
    static const AFX_MSGMAP_ENTRY entries[] = {
        ON_COMMAND(IDOK, &ThisClass::OnOK)
        ON_COMMAND(IDCANCEL, &ThisClass::OnCancel)
        {0, 0, 0, 0, nullptr},
    };
    static const AFX_MSGMAP map = {nullptr, &entries[0]};
    return &map;
}

// ---------------------------------------------------------------------------
// The Qt window of a dialog: turns window events into the dialog's messages.

class CDialogWindow : public QDialog {
public:
    explicit CDialogWindow(CDialogEx* owner) : m_pOwner(owner) {}

protected:
    void keyPressEvent(QKeyEvent* event) override
    {
        bool handled = false;
        m_pOwner->HandleKey(event->key(), handled);
        if (handled)
            event->accept();
        else
            QDialog::keyPressEvent(event);
    }
    void closeEvent(QCloseEvent* event) override
    {
        event->ignore();
        m_pOwner->HandleClose();
    }
    void paintEvent(QPaintEvent* event) override
    {
        QDialog::paintEvent(event);
        m_pOwner->HandlePaint();
    }
    void resizeEvent(QResizeEvent* event) override
    {
        QDialog::resizeEvent(event);
        // The size the window has now, which is what its client rectangle
        // reads: a window-state change can leave an event with a stale size.
        m_pOwner->HandleResize(width(), height());
    }
    void changeEvent(QEvent* event) override
    {
        QDialog::changeEvent(event);
        if (event->type() == QEvent::WindowStateChange)
            m_pOwner->HandleResize(width(), height());
    }
    // The window manager's frame is known once it has placed the window.
    void moveEvent(QMoveEvent* event) override
    {
        QDialog::moveEvent(event);
        if (m_pOwner->m_bFitPending && frameGeometry() != geometry()) {
            m_pOwner->m_bFitPending = false;
            m_pOwner->FitToScreen();
        }
    }

private:
    CDialogEx* m_pOwner;
};

namespace {

// Watches the opened lists of the combo boxes: the owner hears CBN_DROPDOWN
// as a list opens and may then change its height.
class DropDownWatcher : public QObject {
public:
    DropDownWatcher(QObject* parent, std::function<void(QObject*)> onShow)
        : QObject(parent), m_onShow(std::move(onShow))
    {
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Show)
            m_onShow(watched);
        return false;
    }

private:
    std::function<void(QObject*)> m_onShow;
};

std::function<void(CDialogEx&)>& ModalHook()
{
    static std::function<void(CDialogEx&)> hook;
    return hook;
}

// Every dialog that has a window, oldest first.
std::vector<CDialogEx*>& LiveDialogs()
{
    static std::vector<CDialogEx*> dialogs;
    return dialogs;
}

bool IsSunken(const DialogItemTemplate& item)
{
    return (item.exStyle & WS_EX_STATICEDGE) != 0 || (item.style & SS_SUNKEN) != 0;
}

UINT CtlColorType(ControlKind kind)
{
    switch (kind) {
    case ControlKind::Edit:
    case ControlKind::ComboBox: return CTLCOLOR_EDIT;
    case ControlKind::PushButton: return CTLCOLOR_BTN;
    default: return CTLCOLOR_STATIC;
    }
}

} // namespace

// ---------------------------------------------------------------------------

CDialogEx::CDialogEx(const DialogTemplate& dialogTemplate, CWnd* parent)
    : m_template(dialogTemplate), m_pParent(parent)
{
    UseQtMessagePresenter();
}

CDialogEx::~CDialogEx() { DestroyWindow(); }

void CDialogEx::SetModalHook(std::function<void(CDialogEx&)> hook) { ModalHook() = std::move(hook); }

QWidget* CDialogEx::DefaultOwner(const CDialogEx* except)
{
    const QWidget* own = except ? except->m_pWindow.data() : nullptr;
    auto usable = [own](QWidget* w) { return w && w != own && w->isVisible() ? w->window() : nullptr; };
    if (QWidget* modal = usable(QApplication::activeModalWidget()))
        return modal;
    if (CWnd* main = AfxGetMainWnd()) {
        if (QWidget* w = usable(main->GetSafeHwnd()))
            return w;
    }
    const auto& live = LiveDialogs();
    for (auto it = live.rbegin(); it != live.rend(); ++it) {
        if (QWidget* w = usable((*it)->m_pWindow.data()))
            return w;
    }
    return nullptr;
}

bool CDialogEx::IsSizable() const
{
    // Only a frame that can be maximised or has a sizing border changes size.
    return (m_template.style & (WS_THICKFRAME | WS_MAXIMIZEBOX)) != 0;
}

bool CDialogEx::CreateDialogWindow()
{
    if (m_pWindow != nullptr)
        return true;
    if (QApplication::instance() == nullptr)
        return false;
    m_bEnded = false;
    m_nModalResult = -1;
    m_bSizeReported = false;

    InstallAccessibleActions();
    auto* window = new CDialogWindow(this);
    m_pWindow = window;
    m_hWnd = window;
    LiveDialogs().push_back(this);
    // The colours the dialogs were designed with, on any desktop theme.
    window->setPalette(DialogPalette());
    window->setWindowTitle(QString::fromUtf8(m_template.caption));

    Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
    if (m_template.style & WS_SYSMENU)
        flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    if (m_template.style & WS_MINIMIZEBOX)
        flags |= Qt::WindowMinimizeButtonHint;
    if (m_template.style & WS_MAXIMIZEBOX)
        flags |= Qt::WindowMaximizeButtonHint;
    window->setWindowFlags(flags);

    m_dialogFont = MakePointFont(m_template.fontFace, m_template.pointSize * 10);
    window->setFont(m_dialogFont);
    m_baseUnits = MeasureDialogBaseUnits(m_dialogFont);
    if (!m_fontDialog.GetSafeHandle()) {
        LOGFONT lf;
        lf.lfHeight = -MulDiv(m_template.pointSize, ScreenLogPixelsY(), 72);
        lf.lfWeight = FW_NORMAL;
        lf.lfCharSet = DEFAULT_CHARSET;
        std::strncpy(lf.lfFaceName, m_template.fontFace, LF_FACESIZE - 1);
        m_fontDialog.CreateFontIndirect(&lf);
    }
    const RECT client = DialogUnitsToPixels(m_baseUnits, 0, 0, m_template.cx, m_template.cy);
    window->resize(client.right, client.bottom);

    // The window has its size before its controls exist, as on creation.
    HandleResize(client.right, client.bottom);

    m_pEventFilter = new DropDownWatcher(window, [this](QObject* popup) {
        for (auto& c : m_controls) {
            auto* combo = qobject_cast<QComboBox*>(c->Widget());
            if (combo && combo->view()->parentWidget() == popup) {
                HandleDropDown(*c);
                return;
            }
        }
    });

    for (const DialogItemTemplate& item : m_template.items) {
        QWidget* widget = MakeControl(item);
        auto control = std::make_unique<CDlgItem>(this, item, widget);
        ConfigureControl(*control, widget);
        ConnectNotifications(*control, widget);
        m_byId[item.id] = control.get();
        m_controls.push_back(std::move(control));
    }
    for (auto& c : m_controls) {
        if (CDlgItem* label = GetDlgItem(c->Template().labelId))
            label->m_bNamesOthers = true;
    }
    UpdateTabOrder();
    return true;
}

QWidget* CDialogEx::MakeControl(const DialogItemTemplate& item)
{
    QWidget* parent = m_pWindow;
    const QString text = QString::fromUtf8(item.text ? item.text : "");
    QWidget* w = nullptr;
    switch (item.kind) {
    case ControlKind::Static: w = new QLabel(text, parent); break;
    case ControlKind::GroupBox: w = new CGroupFrame(text, parent); break;
    case ControlKind::PushButton: w = new QPushButton(text, parent); break;
    case ControlKind::RadioButton: w = new QRadioButton(text, parent); break;
    case ControlKind::CheckBox: w = new QCheckBox(text, parent); break;
    case ControlKind::Edit: w = new QLineEdit(text, parent); break;
    case ControlKind::ComboBox: w = new QComboBox(parent); break;
    }
    const RECT r = DialogUnitsToPixels(m_baseUnits, item.x, item.y, item.cx, item.cy);
    w->setGeometry(r.left, r.top, r.right - r.left, r.bottom - r.top);
    w->setEnabled((item.style & WS_DISABLED) == 0);
    w->setVisible((item.style & WS_VISIBLE) != 0);
    return w;
}

void CDialogEx::ConfigureControl(CDlgItem& control, QWidget* w)
{
    const DialogItemTemplate& item = control.Template();
    w->setProperty("ctrlId", item.id);
    w->setObjectName(QStringLiteral("ctrl%1").arg(item.id));

    switch (item.kind) {
    case ControlKind::Static:
        if (auto* label = qobject_cast<QLabel*>(w)) {
            Qt::Alignment align = Qt::AlignLeft;
            if ((item.style & 0x3) == SS_CENTER)
                align = Qt::AlignHCenter;
            else if ((item.style & 0x3) == SS_RIGHT)
                align = Qt::AlignRight;
            label->setAlignment(align | Qt::AlignTop);
            label->setWordWrap(true);
            label->setTextFormat(Qt::PlainText);
            if (IsSunken(item)) {
                label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
                label->setLineWidth(1);
            }
        }
        break;
    case ControlKind::GroupBox:
        // A frame drawn over its neighbours; clicks go to the controls it frames.
        w->setAttribute(Qt::WA_TransparentForMouseEvents);
        w->setFocusPolicy(Qt::NoFocus);
        break;
    case ControlKind::PushButton:
        if (auto* button = qobject_cast<QPushButton*>(w)) {
            // Enter is the dialog's: it clicks the focused button or runs OnOK.
            button->setAutoDefault(false);
            button->setDefault(false);
        }
        break;
    case ControlKind::RadioButton:
    case ControlKind::CheckBox:
        break;
    case ControlKind::Edit:
        if (auto* edit = qobject_cast<QLineEdit*>(w)) {
            edit->setFrame((item.style & WS_BORDER) != 0);
            if (item.style & ES_NUMBER) {
                static const QRegularExpression digits(QStringLiteral("[0-9]*"));
                edit->setValidator(new QRegularExpressionValidator(digits, edit));
            }
        }
        break;
    case ControlKind::ComboBox:
        if (auto* combo = qobject_cast<QComboBox*>(w)) {
            if (item.style & CBS_DROPDOWN)
                combo->setEditable(true);
            combo->setInsertPolicy(QComboBox::NoInsert);
            const QRect g = combo->geometry();
            // The template height includes the opened list; the field is as high as its font makes it.
            control.m_nDroppedHeight = g.height();
            combo->setGeometry(g.x(), g.y(), g.width(), combo->sizeHint().height());
            combo->view()->parentWidget()->installEventFilter(m_pEventFilter);
        }
        break;
    }
    if (item.style & WS_TABSTOP) {
        if (w->focusPolicy() == Qt::NoFocus || w->focusPolicy() == Qt::ClickFocus)
            w->setFocusPolicy(Qt::StrongFocus);
    }
}

void CDialogEx::ConnectNotifications(CDlgItem& control, QWidget* w)
{
    const int id = control.GetDlgCtrlID();
    if (auto* button = qobject_cast<QAbstractButton*>(w)) {
        m_connections.push_back(
            QObject::connect(button, &QAbstractButton::clicked, w, [this, id] { SendCommand(id, BN_CLICKED); }));
    } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
        // activated is the operator's choice only; SetCurSel stays silent as on the platform.
        m_connections.push_back(
            QObject::connect(combo, &QComboBox::activated, w, [this, id](int) { SendCommand(id, CBN_SELCHANGE); }));
    }
}

void CDialogEx::UpdateTabOrder()
{
    QWidget* previous = nullptr;
    for (auto& c : m_controls) {
        QWidget* w = c->Widget();
        if (!w || !(w->focusPolicy() & Qt::TabFocus))
            continue;
        if (previous)
            QWidget::setTabOrder(previous, w);
        previous = w;
    }
}

void CDialogEx::UpdateAccessibleNames()
{
    for (auto& c : m_controls) {
        const int labelId = c->Template().labelId;
        QWidget* w = c->Widget();
        if (!w || labelId == 0)
            continue;
        const CDlgItem* label = GetDlgItem(labelId);
        if (!label)
            continue;
        const QString caption = QString::fromStdString(label->GetWindowText());
        if (c->Kind() == ControlKind::Static)
            w->setAccessibleDescription(caption); // a value box: its text stays its name
        else
            w->setAccessibleName(caption);
    }
}

bool CDialogEx::SubclassDlgItem(int id, QWidget* member)
{
    CDlgItem* control = GetDlgItem(id);
    if (!control || !member || control->Widget() == member)
        return false;
    QWidget* old = control->Widget();
    member->setParent(m_pWindow);
    if (old) {
        member->setGeometry(old->geometry());
        member->stackUnder(old);
        SetWidgetText(member, WidgetText(old));
        member->setEnabled(old->isEnabled());
        member->setVisible(!old->isHidden());
        if (old->testAttribute(Qt::WA_SetFont))
            member->setFont(old->font());
    }
    const int dropped = control->m_nDroppedHeight;
    control->Attach(member);
    ConfigureControl(*control, member);
    if (control->Kind() == ControlKind::ComboBox && dropped > 0)
        control->m_nDroppedHeight = dropped;
    ConnectNotifications(*control, member);
    m_bound.emplace_back(member);
    delete old;
    UpdateTabOrder();
    return true;
}

BOOL CDialogEx::Create() { return CreateAndShow(false); }

BOOL CDialogEx::CreateAndShow(bool modal)
{
    if (m_pWindow != nullptr)
        return TRUE;
    if (!CreateDialogWindow())
        return FALSE;
    const BOOL focusDefault = OnInitDialog();
    if (!m_pWindow)
        return FALSE;
    FitToScreen();
    if (IsSizable())
        ApplySizingMinimum();
    else
        m_pWindow->setFixedSize(m_pWindow->size());
    UpdateAccessibleNames();
    ApplyControlColours();
    if (m_bEnded)
        return TRUE;
    if (modal) {
        // Owned, centred over its owner and kept above it; and modal before it
        // is shown, since Qt ignores a change of modality on a visible window.
        QWidget* owner = m_pParent && m_pParent->GetSafeHwnd() ? m_pParent->GetSafeHwnd()->window()
                                                               : DefaultOwner(this);
        if (owner && owner != m_pWindow)
            m_pWindow->setParent(owner, m_pWindow->windowFlags());
        m_pWindow->setWindowModality(Qt::ApplicationModal);
    }
    m_bFitPending = true;
    m_pWindow->show();
    if (focusDefault) {
        for (auto& c : m_controls) {
            QWidget* w = c->Widget();
            if (w && (c->Template().style & WS_TABSTOP) && w->isEnabled() && w->isVisible()) {
                w->setFocus(Qt::TabFocusReason);
                break;
            }
        }
    }
    return TRUE;
}

int CDialogEx::DoModal()
{
    if (!CreateAndShow(true))
        return -1;
    if (!m_bEnded && m_pWindow) {
        if (auto& hook = ModalHook())
            hook(*this);
    }
    if (!m_bEnded && m_pWindow) {
        QEventLoop loop;
        m_pModalLoop = &loop;
        loop.exec(QEventLoop::DialogExec);
        m_pModalLoop = nullptr;
    }
    const int result = m_nModalResult;
    DestroyWindow();
    return result;
}

void CDialogEx::EndDialog(int result)
{
    m_nModalResult = result;
    m_bEnded = true;
    if (m_pWindow)
        m_pWindow->hide();
    if (m_pModalLoop)
        m_pModalLoop->quit();
}

void CDialogEx::DestroyWindow()
{
    if (!m_pWindow)
        return;
    m_timers.clear();
    for (auto& c : m_connections)
        QObject::disconnect(c);
    m_connections.clear();
    // Members outlive the window: hand them back before Qt deletes its children.
    for (auto& member : m_bound) {
        if (member) {
            member->hide();
            member->setParent(nullptr);
        }
    }
    m_bound.clear();
    m_byId.clear();
    m_controls.clear();
    auto& live = LiveDialogs();
    live.erase(std::remove(live.begin(), live.end(), this), live.end());
    // A dialog still open over this one keeps its window: Qt would delete it
    // with its parent.
    for (CDialogEx* other : live) {
        if (other->m_pWindow && other->m_pWindow->parentWidget() == m_pWindow.data())
            other->m_pWindow->setParent(nullptr, other->m_pWindow->windowFlags());
    }
    m_bFitPending = false;
    QDialog* window = m_pWindow;
    m_pWindow = nullptr;
    m_hWnd = nullptr;
    m_pEventFilter = nullptr;
    if (m_pModalLoop)
        m_pModalLoop->quit();
    delete window;
}

BOOL CDialogEx::OnInitDialog()
{
    CDataExchange dx{this, FALSE};
    DoDataExchange(&dx);
    return TRUE;
}

void CDialogEx::DoDataExchange(CDataExchange*) {}

BOOL CDialogEx::UpdateData(BOOL saveAndValidate)
{
    CDataExchange dx{this, saveAndValidate};
    DoDataExchange(&dx);
    return TRUE;
}

void CDialogEx::OnOK()
{
    if (!UpdateData(TRUE))
        return;
    EndDialog(IDOK);
}

void CDialogEx::OnCancel() { EndDialog(IDCANCEL); }

void CDialogEx::OnPaint() {}
void CDialogEx::OnTimer(UINT_PTR) {}
void CDialogEx::OnSize(UINT, int, int) {}
void CDialogEx::OnSizing(UINT, RECT*) {}
void CDialogEx::OnCtlColor(CCtlColor*, CWnd*, UINT) {}
void CDialogEx::OnDrawItem(int, void*) {}

LRESULT CDialogEx::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (const AFX_MSGMAP_ENTRY* e = FindMessageEntry(GetMessageMap(), message, wParam))
        return e->pfn(this, wParam, lParam);
    return DefWindowProc(message, wParam, lParam);
}

void CDialogEx::SendCommand(int id, UINT code) { WindowProc(WM_COMMAND, MAKEWPARAM(id, code), 0); }

void CDialogEx::HandleKey(int key, bool& handled)
{
    handled = false;
    if (key == Qt::Key_Escape) {
        handled = true;
        SendCommand(IDCANCEL, BN_CLICKED);
    } else if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        handled = true;
        QWidget* focus = m_pWindow ? m_pWindow->focusWidget() : nullptr;
        if (auto* button = qobject_cast<QPushButton*>(focus); button && button->isEnabled())
            button->click();
        else
            SendCommand(IDOK, BN_CLICKED);
    }
}

void CDialogEx::HandleClose()
{
    // Only a window with a system menu has a close box.
    if (m_template.style & WS_SYSMENU)
        SendCommand(IDCANCEL, BN_CLICKED);
}

void CDialogEx::HandlePaint()
{
    if (m_bInPaint)
        return;
    m_bInPaint = true;
    WindowProc(WM_PAINT, 0, 0);
    m_bInPaint = false;
}

void CDialogEx::HandleResize(int width, int height)
{
    if (!m_pWindow)
        return;
    UINT type = SIZE_RESTORED;
    if (m_pWindow->isMinimized()) {
        type = SIZE_MINIMIZED;
        width = 0;
        height = 0;
    } else if (m_pWindow->isMaximized()) {
        type = SIZE_MAXIMIZED;
    }
    const QSize size(width, height);
    // Qt repeats sizes (a pending resize at show, a state change without a new
    // size); the platform reports each change once.
    if (m_bSizeReported && size == m_lastReportedSize && type == m_nLastReportedType)
        return;
    m_bSizeReported = true;
    m_lastReportedSize = size;
    m_nLastReportedType = type;
    WindowProc(WM_SIZE, type, MAKELPARAM(static_cast<UINT>(width), static_cast<UINT>(height)));
}

// The window manager resizes a frame without asking the window first, so the
// map's WM_SIZING rule is asked once, for a frame dragged down to nothing, and
// the smallest frame it allows becomes the window's minimum size. The minimum
// never exceeds the size the dialog has now, so showing it changes nothing,
// nor the screen's work area, so a maximise still fits a smaller screen.
void CDialogEx::ApplySizingMinimum()
{
    if (!m_pWindow)
        return;
    RECT frame;
    GetWindowRect(&frame);
    RECT proposed{frame.left, frame.top, frame.left, frame.top};
    WindowProc(WM_SIZING, WMSZ_BOTTOMRIGHT, reinterpret_cast<LPARAM>(&proposed));
    const int frameWidth = (frame.right - frame.left) - m_pWindow->width();
    const int frameHeight = (frame.bottom - frame.top) - m_pWindow->height();
    QSize limit = m_pWindow->size();
    if (const QScreen* screen = m_pWindow->screen())
        limit = limit.boundedTo(screen->availableGeometry().size() - QSize(frameWidth, frameHeight));
    const int width = std::clamp<int>(proposed.right - proposed.left - frameWidth, 0, std::max(0, limit.width()));
    const int height = std::clamp<int>(proposed.bottom - proposed.top - frameHeight, 0, std::max(0, limit.height()));
    m_pWindow->setMinimumSize(width, height);
}

void CDialogEx::FitToScreen()
{
    if (!m_pWindow)
        return;
    const QScreen* screen = m_pWindow->screen();
    if (!screen || m_pWindow->isMaximized() || m_pWindow->isFullScreen())
        return;
    const QRect work = screen->availableGeometry();
    QRect frame = m_pWindow->frameGeometry();
    QSize extra = frame.size() - m_pWindow->size();
    if (extra.isEmpty() && m_pWindow->windowHandle() == nullptr && !(m_pWindow->windowFlags() & Qt::FramelessWindowHint)
        && QGuiApplication::platformName() != QLatin1String("offscreen")) {
        // Before the first show the frame is unknown: leave room for a title
        // bar and borders until the window manager tells its own.
        extra = QSize(2 * 4, 4 + 2 * QFontMetrics(m_pWindow->font()).height());
    }
    extra = extra.expandedTo(QSize(0, 0));
    const QSize room = (work.size() - extra).expandedTo(QSize(1, 1));
    const QSize client = m_pWindow->size();
    const QSize fitted = client.boundedTo(room);
    if (fitted != client) {
        // A fixed frame may shrink too, so its limits go first.
        m_pWindow->setMinimumSize(m_pWindow->minimumSize().boundedTo(fitted));
        if (!IsSizable())
            m_pWindow->setMaximumSize(fitted);
        m_pWindow->resize(fitted);
        HandleResize(m_pWindow->width(), m_pWindow->height());
    }
    m_pWindow->setMinimumSize(m_pWindow->minimumSize().boundedTo(room));
    if (!m_pWindow->isVisible())
        return;
    // Keep the whole frame on the screen.
    frame = m_pWindow->frameGeometry();
    QPoint at = frame.topLeft();
    at.setX(std::clamp(at.x(), work.left(), std::max(work.left(), work.right() + 1 - frame.width())));
    at.setY(std::clamp(at.y(), work.top(), std::max(work.top(), work.bottom() + 1 - frame.height())));
    if (at != frame.topLeft())
        m_pWindow->move(at);
}

void CDialogEx::HandleDropDown(CDlgItem& control)
{
    const int id = control.GetDlgCtrlID();
    SendCommand(id, CBN_DROPDOWN);
    if (CDlgItem* c = GetDlgItem(id))
        c->ApplyDroppedHeight();
}

void CDialogEx::ApplyControlColours()
{
    for (auto& c : m_controls) {
        QWidget* w = c->Widget();
        if (!w)
            continue;
        CCtlColor dc;
        msgmap::CtlColorRequest request{&dc, c.get(), CtlColorType(c->Kind())};
        WindowProc(WM_CTLCOLOR, 0, reinterpret_cast<LPARAM>(&request));
        if (dc.Font()) {
            w->setFont(*dc.Font());
            // A line taller than its box is centred, not cut at the bottom:
            // the space it loses above the glyphs is the font's empty leading.
            auto* label = qobject_cast<QLabel*>(w);
            if (label && QFontMetrics(*dc.Font()).height() > label->contentsRect().height())
                label->setAlignment((label->alignment() & ~Qt::AlignVertical_Mask) | Qt::AlignVCenter);
        }
        if (dc.TextColour()) {
            const COLORREF rgb = *dc.TextColour();
            const QColor colour(GetRValue(rgb), GetGValue(rgb), GetBValue(rgb));
            QPalette palette = w->palette();
            palette.setColor(QPalette::WindowText, colour);
            palette.setColor(QPalette::Text, colour);
            palette.setColor(QPalette::ButtonText, colour);
            w->setPalette(palette);
        }
        if (dc.BkMode() && *dc.BkMode() == CCtlColor::TRANSPARENT) {
            // The dialog's background is one plain colour, so a transparent
            // text looks the same painted over that colour by the control
            // itself; the dialog then need not repaint behind every change.
            QPalette palette = w->palette();
            palette.setColor(QPalette::Window, m_pWindow ? m_pWindow->palette().color(QPalette::Window)
                                                         : palette.color(QPalette::Window));
            w->setPalette(palette);
            w->setAutoFillBackground(true);
        }
    }
}

// ---------------------------------------------------------------------------
// Controls

CDlgItem* CDialogEx::GetDlgItem(int id) const
{
    const auto it = m_byId.find(id);
    return it == m_byId.end() ? nullptr : it->second;
}

CDlgItem* CDialogEx::GetTopWindow() const { return m_controls.empty() ? nullptr : m_controls.front().get(); }

void CDialogEx::SetDlgItemText(int id, const std::string& text)
{
    CDlgItem* c = GetDlgItem(id);
    if (!c)
        return;
    c->SetWindowText(text);
    if (c->m_bNamesOthers)
        UpdateAccessibleNames();
}

std::string CDialogEx::GetDlgItemText(int id) const
{
    const CDlgItem* c = GetDlgItem(id);
    return c ? c->GetWindowText() : std::string();
}

int CDialogEx::GetDlgItemText(int id, std::string& text) const
{
    text = GetDlgItemText(id);
    return static_cast<int>(text.size());
}

void CDialogEx::CheckDlgButton(int id, UINT check)
{
    const CDlgItem* c = GetDlgItem(id);
    auto* button = c ? qobject_cast<QAbstractButton*>(c->Widget()) : nullptr;
    if (!button)
        return;
    const bool exclusive = button->autoExclusive();
    button->setAutoExclusive(false);
    button->setChecked(check == BST_CHECKED);
    button->setAutoExclusive(exclusive);
}

UINT CDialogEx::IsDlgButtonChecked(int id) const
{
    const CDlgItem* c = GetDlgItem(id);
    const auto* button = c ? qobject_cast<const QAbstractButton*>(c->Widget()) : nullptr;
    return button && button->isCheckable() && button->isChecked() ? BST_CHECKED : BST_UNCHECKED;
}

void CDialogEx::CheckRadioButton(int firstId, int lastId, int checkId)
{
    for (int id = firstId; id <= lastId; ++id)
        CheckDlgButton(id, id == checkId ? BST_CHECKED : BST_UNCHECKED);
}

// ---------------------------------------------------------------------------
// Timers

UINT_PTR CDialogEx::SetTimer(UINT_PTR id, UINT elapseMs)
{
    auto timer = std::make_unique<QTimer>();
    timer->setTimerType(Qt::PreciseTimer);
    timer->setInterval(static_cast<int>(elapseMs));
    QObject::connect(timer.get(), &QTimer::timeout, [this, id] { WindowProc(WM_TIMER, id, 0); });
    timer->start();
    m_timers[id] = std::move(timer);
    return id;
}

BOOL CDialogEx::KillTimer(UINT_PTR id) { return m_timers.erase(id) != 0 ? TRUE : FALSE; }

bool CDialogEx::HasTimer(UINT_PTR id) const { return m_timers.count(id) != 0; }

int CDialogEx::TimerInterval(UINT_PTR id) const
{
    const auto it = m_timers.find(id);
    return it == m_timers.end() ? -1 : it->second->interval();
}

// ---------------------------------------------------------------------------
// Window geometry and state

void CDialogEx::GetClientRect(RECT* rect) const
{
    *rect = RECT{};
    if (m_pWindow) {
        rect->right = m_pWindow->width();
        rect->bottom = m_pWindow->height();
    }
}

void CDialogEx::GetWindowRect(RECT* rect) const
{
    *rect = RECT{};
    if (m_pWindow) {
        const QRect frame = m_pWindow->frameGeometry();
        rect->left = frame.left();
        rect->top = frame.top();
        rect->right = frame.left() + frame.width();
        rect->bottom = frame.top() + frame.height();
    }
}

void CDialogEx::ScreenToClient(POINT* point) const
{
    if (!m_pWindow)
        return;
    const QPoint p = m_pWindow->mapFromGlobal(QPoint(point->x, point->y));
    point->x = p.x();
    point->y = p.y();
}

void CDialogEx::ScreenToClient(RECT* rect) const
{
    POINT tl{rect->left, rect->top};
    POINT br{rect->right, rect->bottom};
    ScreenToClient(&tl);
    ScreenToClient(&br);
    *rect = RECT{tl.x, tl.y, br.x, br.y};
}

void CDialogEx::ClientToScreen(RECT* rect) const
{
    if (!m_pWindow)
        return;
    const QPoint tl = m_pWindow->mapToGlobal(QPoint(rect->left, rect->top));
    const QPoint br = m_pWindow->mapToGlobal(QPoint(rect->right, rect->bottom));
    *rect = RECT{tl.x(), tl.y(), br.x(), br.y()};
}

void CDialogEx::MoveWindow(int x, int y, int cx, int cy, BOOL repaint)
{
    if (!m_pWindow)
        return;
    m_pWindow->move(x, y);
    m_pWindow->resize(cx, cy);
    if (repaint)
        m_pWindow->update();
}

void CDialogEx::Invalidate(BOOL erase) { InvalidateRect(nullptr, erase); }

void CDialogEx::InvalidateRect(const RECT* rect, BOOL)
{
    if (!m_pWindow)
        return;
    if (rect)
        m_pWindow->update(QRect(rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top));
    else
        m_pWindow->update();
}

BOOL CDialogEx::IsIconic() const { return m_pWindow && m_pWindow->isMinimized(); }
BOOL CDialogEx::IsZoomed() const { return m_pWindow && m_pWindow->isMaximized(); }

void CDialogEx::SetIcon(const QIcon& icon, BOOL bigIcon)
{
    if (bigIcon)
        m_bigIcon = icon;
    else
        m_smallIcon = icon;
    if (m_pWindow)
        m_pWindow->setWindowIcon(m_bigIcon.isNull() ? m_smallIcon : m_bigIcon);
}

QIcon CDialogEx::GetIcon(BOOL bigIcon) const { return bigIcon ? m_bigIcon : m_smallIcon; }

QFont CDialogEx::GetQFont() const { return m_dialogFont; }

void CDialogEx::SetWindowText(const std::string& text)
{
    if (m_pWindow)
        m_pWindow->setWindowTitle(QString::fromStdString(text));
}

std::string CDialogEx::GetWindowText() const
{
    return m_pWindow ? m_pWindow->windowTitle().toStdString() : std::string();
}

// ---------------------------------------------------------------------------
// Combo boxes

int ComboInsertString(QComboBox& combo, int index, const std::string& text)
{
    const int count = combo.count();
    if (index < 0 || index > count)
        index = count;
    const int current = combo.currentIndex();
    combo.insertItem(index, QString::fromStdString(text));
    // Inserting into an empty box selects nothing on the platform; Qt would select the item.
    if (current < 0 && combo.currentIndex() >= 0)
        combo.setCurrentIndex(-1);
    return index;
}

int ComboAddString(QComboBox& combo, const std::string& text)
{
    const QString t = QString::fromStdString(text);
    int index = 0;
    while (index < combo.count() && QString::compare(combo.itemText(index), t, Qt::CaseInsensitive) <= 0)
        ++index;
    return ComboInsertString(combo, index, text);
}

int ComboSetCurSel(QComboBox& combo, int index)
{
    if (index < -1 || index >= combo.count()) {
        combo.setCurrentIndex(-1);
        return CB_ERR;
    }
    combo.setCurrentIndex(index);
    return index;
}

int ComboGetCurSel(const QComboBox& combo) { return combo.currentIndex() < 0 ? CB_ERR : combo.currentIndex(); }

int ComboGetCount(const QComboBox& combo) { return combo.count(); }

int ComboGetLBText(const QComboBox& combo, int index, std::string& text)
{
    if (index < 0 || index >= combo.count()) {
        text.clear();
        return CB_ERR;
    }
    text = combo.itemText(index).toStdString();
    return static_cast<int>(text.size());
}

void ComboResetContent(QComboBox& combo) { combo.clear(); }
