#include "controls/CCustomDrawCombox.h"

#include <QEvent>
#include <QLineEdit>
#include <QPalette>
#include <QProxyStyle>
#include <QStyleOptionComplex>

#include "platform/draw/CDC.h"

namespace
{

constexpr COLORREF kField = RGB(255, 255, 255);
constexpr COLORREF kFrame = RGB(200, 200, 200);
constexpr COLORREF kArrowButton = RGB(21, 123, 237);
constexpr COLORREF kArrow = RGB(255, 255, 255);

// Lines the platform's parts up with the drawn box: the arrow sub-control
// (what a press opens the list with) is the drawn 20-pixel button, and the
// edit field sits inside the frame left of it.
class FlatComboStyle : public QProxyStyle
{
public:
    QRect subControlRect(ComplexControl cc, const QStyleOptionComplex* opt, SubControl sc,
                         const QWidget* widget) const override
    {
        if (cc == CC_ComboBox && opt) {
            const QRect r = opt->rect;
            const int arrow = CCustomDrawCombox::ARROW_WIDTH;
            switch (sc) {
            case SC_ComboBoxArrow:
                return QRect(r.right() + 1 - arrow, r.top(), arrow, r.height());
            case SC_ComboBoxEditField:
                return QRect(r.left() + 1, r.top() + 1, std::max(0, r.width() - arrow - 2),
                             std::max(0, r.height() - 2));
            case SC_ComboBoxFrame:
                return r;
            default:
                break;
            }
        }
        return QProxyStyle::subControlRect(cc, opt, sc, widget);
    }
};

} // namespace

CCustomDrawCombox::CCustomDrawCombox(QWidget* parent) : QComboBox(parent)
{
    // A drop-down with an edit field; typed text never adds list entries.
    setEditable(true);
    setInsertPolicy(QComboBox::NoInsert);
    auto* style = new FlatComboStyle; // its own base style instance
    style->setParent(this);
    setStyle(style);
    KeepFieldWhite();
}

// The field stays white when disabled, whatever the desktop's theme; only the
// text greys. Qt forgets the edit's own colours when the box changes parent.
void CCustomDrawCombox::KeepFieldWhite()
{
    if (QLineEdit* edit = lineEdit()) {
        QPalette pal = edit->palette();
        const QColor field(GetRValue(kField), GetGValue(kField), GetBValue(kField));
        pal.setColor(QPalette::Disabled, QPalette::Base, field);
        pal.setColor(QPalette::Disabled, QPalette::Window, field);
        edit->setPalette(pal);
    }
}

void CCustomDrawCombox::changeEvent(QEvent* event)
{
    QComboBox::changeEvent(event);
    if (event->type() == QEvent::ParentChange || event->type() == QEvent::PaletteChange)
        KeepFieldWhite();
}

CCustomDrawCombox::~CCustomDrawCombox()
{
    // Back to the application style before the proxy (a child) goes.
    setStyle(nullptr);
}

void CCustomDrawCombox::PreSubclassWindow()
{
    update();
}

void CCustomDrawCombox::paintEvent(QPaintEvent*)
{
    OnPaint();
}

void CCustomDrawCombox::OnPaint()
{
    CPaintDC dc(this);
    CDC mem;
    mem.CreateCompatibleDC(&dc);
    mem.SetMapMode(dc.GetMapMode());

    const int W = width();
    const int H = height();
    CBitmap bmp;
    bmp.CreateCompatibleBitmap(&dc, W, H);
    CBitmap* pOldBitmap = mem.SelectObject(&bmp);

    CPen pen(PS_SOLID, 1, kFrame);
    CPen* pOldPen = mem.SelectObject(&pen);
    CBrush field(kField);
    CBrush* pOldBrush = mem.SelectObject(&field);
    mem.Rectangle(0, 0, W, H);

    CBrush button(kArrowButton);
    mem.SelectObject(&button);
    mem.Rectangle(W - ARROW_WIDTH, 0, W, H);

    const int x0 = W - ARROW_WIDTH;
    const int cx = x0 + (W - x0) / 2;
    const int cy = 0 + (H - 0) / 2;
    const POINT triangle[3] = {{cx - 4, cy - 2}, {cx + 4, cy - 2}, {cx, cy + 3}};
    CRgn rgn;
    rgn.CreatePolygonRgn(triangle, 3, ALTERNATE);
    CBrush arrow(kArrow);
    mem.FillRgn(&rgn, &arrow);

    dc.BitBlt(0, 0, W, H, &mem, 0, 0, SRCCOPY);

    mem.SelectObject(pOldBitmap);
    mem.SelectObject(pOldPen);
    mem.SelectObject(pOldBrush);
    mem.DeleteDC();
}
