#include "gauge/CRoundMeter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "gauge/MemDC.h"

namespace
{

constexpr COLORREF kBlack = RGB(0, 0, 0);
constexpr COLORREF kDial = RGB(182, 182, 182);
constexpr COLORREF kLabel = RGB(0, 0, 255);
constexpr COLORREF kShadow = RGB(255, 255, 255);
constexpr COLORREF kCap = RGB(255, 128, 64);
constexpr UINT kOneLineCentred = DT_CENTER | DT_VCENTER | DT_SINGLELINE; // 0x25

// Degrees to radians with the constant the scale has always been drawn with.
double Rad(double deg)
{
    return deg * 3.1415929 / 180;
}

int Px(double v)
{
    return static_cast<int>(v);
}

// Division counts are used truncated; counts below one draw no ticks, and an
// absurd count is held to something drawable.
int Divisions(double d)
{
    if (!(d >= 1.0))
        return 0;
    return static_cast<int>(std::min(d, 3600.0));
}

// A disc in the box (cx - r, cy - r, cx + r, cy + r) shrunk by inset on every
// side, filled with colour and outlined with whatever pen is selected (the
// context's default 1-pixel pen).
void Disc(CDC* pDC, COLORREF colour, int cx, int cy, double r, double inset = 0.0)
{
    CBrush brush(colour);
    CBrush* pOld = pDC->SelectObject(&brush);
    pDC->Ellipse(Px(cx - r + inset), Px(cy - r + inset), Px(cx + r - inset), Px(cy + r - inset));
    pDC->SelectObject(pOld);
}

} // namespace

CRoundMeter::CRoundMeter(QWidget* parent) : QWidget(parent)
{
    std::memset(m_szTitle, 0, sizeof(m_szTitle));
    std::strcpy(m_szTitle, "角度");
    // The gauge paints every pixel itself and takes no input.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAutoFillBackground(false);
    setFocusPolicy(Qt::NoFocus);
}

CRoundMeter::~CRoundMeter()
{
    ReleaseBackground();
}

void CRoundMeter::ReleaseBackground()
{
    if (m_pPrevBitmap && m_bmpBackground.GetSafeHandle() && m_dcBackground.GetSafeHdc()) {
        m_dcBackground.SelectObject(m_pPrevBitmap);
        m_dcBackground.DeleteDC();
        m_bmpBackground.DeleteObject();
        m_pPrevBitmap = nullptr;
    }
}

void CRoundMeter::ResetBackground()
{
    ReleaseBackground();
    update();
}

void CRoundMeter::paintEvent(QPaintEvent*)
{
    OnPaint();
}

void CRoundMeter::OnPaint()
{
    CPaintDC dc(this);
    m_rcClient = RECT{0, 0, width(), height()};
    const int w = m_rcClient.right - m_rcClient.left;
    const int h = m_rcClient.bottom - m_rcClient.top;
    {
        MemDC memDC(&dc, m_rcClient);
        if (!m_dcBackground.GetSafeHdc() || !m_bmpBackground.GetSafeHandle()) {
            if (!m_dcBackground.GetSafeHdc())
                m_dcBackground.CreateCompatibleDC(&dc);
            m_bmpBackground.CreateCompatibleBitmap(&dc, w, h);
            m_pPrevBitmap = m_dcBackground.SelectObject(&m_bmpBackground);
            DrawBackground(&m_dcBackground, m_rcClient);
        }
        memDC.BitBlt(0, 0, w, h, &m_dcBackground, 0, 0, SRCCOPY);
        DrawNeedle(&memDC);
        DrawReadout(&memDC);
    }
}

void CRoundMeter::DrawBackground(CDC* pDC, const RECT& rect)
{
    // Frame
    {
        CBrush brush(m_clrBack);
        pDC->FillRect(&rect, &brush);
        CBrush* pOld = pDC->SelectObject(&brush);
        pDC->Rectangle(&rect);
        pDC->SelectObject(pOld);
    }

    // Geometry
    const int cx = (rect.left + rect.right) / 2;
    const int cy = (rect.top + rect.bottom) / 2;
    m_ptCenter = POINT{cx, cy};
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    const double D = static_cast<double>(std::min(width, height) - 5);
    m_dDiameter = D;
    const double R0 = D * 0.5;

    auto disc = [&](int penWidth, double inset) {
        CBrush brush(kDial);
        CPen pen(PS_SOLID, penWidth, kBlack);
        CBrush* pOldBrush = pDC->SelectObject(&brush);
        CPen* pOldPen = pDC->SelectObject(&pen);
        pDC->Ellipse(Px(cx - R0 + inset), Px(cy - R0 + inset), Px(cx + R0 - inset), Px(cy + R0 - inset));
        pDC->SelectObject(pOldPen);
        pDC->SelectObject(pOldBrush);
    };
    disc(2, 0.0);        // outer circle
    disc(1, D / 50);     // second circle
    disc(2, D * 0.0625); // third circle, where the ticks start

    // Hub and its centre, outlined with the default pen
    Disc(pDC, kBlack, cx, cy, D / 15);
    Disc(pDC, m_clrBack, cx, cy, D / 15, D / 50);

    // Scale
    const int M = Divisions(m_dMajorDivisions);
    const int N = Divisions(m_dMinorDivisions);
    const double R1 = std::fabs(R0 - D * 0.0625);
    const double Lmajor = std::fabs(D / 15);
    const double Lminor = std::fabs(D / 20);
    const double step = M > 0 ? static_cast<double>(360.0f / static_cast<float>(M)) : 0.0;
    const double sub = N > 0 ? step / N : 0.0;

    auto tick = [&](double phi, double length, POINT& inner) {
        const double s = std::sin(Rad(phi));
        const double c = std::cos(Rad(phi));
        const double x0 = cx - R1 * s;
        const double y0 = cy + R1 * c;
        const double x1 = x0 + length * s;
        const double y1 = y0 - length * c;
        pDC->MoveTo(Px(x0), Px(y0));
        pDC->LineTo(Px(x1), Px(y1));
        inner = POINT{Px(x1), Px(y1)};
    };

    // Major ticks and their labels
    {
        CPen pen(PS_SOLID, 2, kBlack);
        CPen* pOldPen = pDC->SelectObject(&pen);
        pDC->SetBkMode(TRANSPARENT);
        CFont font;
        font.CreateFont(15, 0, 0, 0, 20, FALSE, FALSE, FALSE, ANSI_CHARSET, OUT_DEFAULT_PRECIS, CLIP_STROKE_PRECIS,
                        DEFAULT_QUALITY, 0, "Arail");
        CFont* pOldFont = pDC->SelectObject(&font);
        for (int i = 0; i < M; ++i) {
            POINT in;
            tick(i * step, Lmajor, in);
            char label[100];
            std::snprintf(label, sizeof(label), "%.2f", m_dMin + (m_dMax - m_dMin) * i / M);
            const double q = (M - i) * step;
            POINT shadow, text;
            if (q < 60) {
                shadow = {in.x - 39, in.y + 1};
                text = {in.x - 40, in.y};
            } else if (q <= 90) {
                shadow = {in.x - 19, in.y + 4};
                text = {in.x - 20, in.y + 3};
            } else if (q < 140) {
                shadow = {in.x - 12, in.y + 1};
                text = {in.x - 13, in.y};
            } else {
                shadow = {in.x - 3, in.y + 1};
                text = {in.x - 4, in.y};
            }
            pDC->SetTextColor(kShadow);
            pDC->TextOut(shadow.x, shadow.y, label);
            pDC->SetTextColor(kLabel);
            pDC->TextOut(text.x, text.y, label);
        }
        pDC->SelectObject(pOldFont);
        pDC->SelectObject(pOldPen);
    }

    // Minor ticks, N + 1 strokes per major division
    {
        CPen pen(PS_SOLID, 1, kBlack);
        CPen* pOldPen = pDC->SelectObject(&pen);
        if (N > 0)
            for (int j = 0; j < M; ++j)
                for (int k = 0; k <= N; ++k) {
                    POINT in;
                    tick(k * sub + j * step, Lminor, in);
                }
        pDC->SelectObject(pOldPen);
    }

    // Title in the lower half of the dial
    {
        const int h = Px(D * 0.5);
        CFont font;
        font.CreateFont(h / 4, 0, 0, 0, 0, FALSE, FALSE, FALSE, DEFAULT_CHARSET, 0, 0, 0, 0, "隶书");
        CFont* pOldFont = pDC->SelectObject(&font);
        const float H = static_cast<float>(h);
        const float fcx = static_cast<float>(cx);
        const float fcy = static_cast<float>(cy);
        const float a5 = H * 0.5f;
        const float a3 = H * 0.3f;
        const float a1 = H * 0.1f;
        const std::string_view title(m_szTitle, strnlen(m_szTitle, sizeof(m_szTitle)));
        pDC->SetBkMode(TRANSPARENT);
        RECT shadow{Px(fcx - a3 + 2), Px(a1 + fcy + 2), Px(fcx + a3 + 2), Px(fcy + a5 + 2)};
        pDC->SetTextColor(kShadow);
        pDC->DrawText(title, &shadow, kOneLineCentred);
        RECT text{Px(fcx - a3), Px(a1 + fcy), Px(fcx + a3), Px(fcy + a5)};
        pDC->SetTextColor(kLabel);
        pDC->DrawText(title, &text, kOneLineCentred);
        pDC->SelectObject(pOldFont);
    }
}

void CRoundMeter::DrawNeedle(CDC* pDC)
{
    // Clamp into the scale; the clamped value stays. A value that is not a
    // number shows as the start of the scale.
    if (std::isnan(m_dValue))
        m_dValue = m_dMin;
    if (m_dMin > m_dValue)
        m_dValue = m_dMin;
    else if (m_dValue > m_dMax)
        m_dValue = m_dMax;

    const int cx = m_ptCenter.x;
    const int cy = m_ptCenter.y;
    const double D = m_dDiameter;
    const double a = (m_dValue - m_dMin) * 360 / (m_dMax - m_dMin);
    const double Rbase = D / 25;
    const double W = D / 20;
    const double Ltip = std::fabs(D * 0.5 - D * 0.0625) - std::fabs(D / 15) - 10;

    const double r = std::fmod(std::fabs(a), 360);
    const double Bx = cx - Rbase * std::sin(Rad(r));
    const double By = cy + Rbase * std::cos(Rad(r));
    const double S1x = Bx - W * std::sin(Rad(a - 30));
    const double S1y = By + W * std::cos(Rad(a - 30));
    const double S2x = Bx - W * std::sin(Rad(a + 30));
    const double S2y = By + W * std::cos(Rad(a + 30));
    const double Tx = cx - Ltip * std::sin(Rad(a));
    const double Ty = cy + Ltip * std::cos(Rad(a));

    const POINT pts[5] = {{Px(Bx), Px(By)}, {Px(S1x), Px(S1y)}, {Px(Tx), Px(Ty)}, {Px(S2x), Px(S2y)}, {Px(Bx), Px(By)}};
    {
        CBrush brush(m_clrNeedle);
        CBrush* pOld = pDC->SelectObject(&brush);
        pDC->SetPolyFillMode(WINDING);
        pDC->Polygon(pts, 5);
        pDC->SelectObject(pOld);
    }

    // Centre cap: a black disc, then an orange one with the default pen
    {
        CBrush brush(kBlack);
        CPen pen(PS_SOLID, 1, kBlack);
        CBrush* pOldBrush = pDC->SelectObject(&brush);
        CPen* pOldPen = pDC->SelectObject(&pen);
        pDC->Ellipse(Px(cx - D * 0.0625), Px(cy - D * 0.0625), Px(cx + D * 0.0625), Px(cy + D * 0.0625));
        pDC->SelectObject(pOldPen);
        pDC->SelectObject(pOldBrush);
    }
    Disc(pDC, kCap, cx, cy, D / 15, D / 50);
}

void CRoundMeter::DrawReadout(CDC* pDC)
{
    // A band under the title for a readout; the dial shows none (the dialog's
    // labels carry the values), so the text is empty.
    const int h = Px(m_dDiameter * 0.5);
    CFont font;
    font.CreateFont(h / 6, 0, 0, 0, 0, FALSE, FALSE, FALSE, DEFAULT_CHARSET, 0, 0, 0, 0, "Arial");
    CFont* pOldFont = pDC->SelectObject(&font);
    pDC->SetBkMode(TRANSPARENT);
    const float H = static_cast<float>(h);
    const float fcx = static_cast<float>(m_ptCenter.x);
    const float fcy = static_cast<float>(m_ptCenter.y);
    const float b6 = H * 0.6f;
    const float b3 = H * 0.3f;
    const float b4 = H * 0.4f;
    char text[10] = {};
    RECT shadow{Px(fcx - b3), Px(fcy + b4), Px(fcx + b3 + 2), Px(fcy + b6 + 2)};
    pDC->SetTextColor(kShadow);
    pDC->DrawText(text, &shadow, kOneLineCentred);
    RECT blue{Px(fcx - b3), Px(fcy + b4), Px(fcx + b3), Px(fcy + b6)};
    pDC->SetTextColor(kLabel);
    pDC->DrawText(text, &blue, kOneLineCentred);
    pDC->SelectObject(pOldFont);
}
