#include "platform/draw/CDC.h"

#include <QFontMetrics>
#include <QPaintDevice>
#include <QPainter>
#include <QPainterPath>
#include <QWidget>
#include <algorithm>
#include <cmath>
#include <vector>

#include "platform/draw/DrawRecorder.h"

// ---------------------------------------------------------------- recording

namespace
{
DrawRecorder* g_recorder = nullptr;
}

DrawRecorder::DrawRecorder()
{
    g_recorder = this;
}
DrawRecorder::~DrawRecorder()
{
    if (g_recorder == this)
        g_recorder = nullptr;
}
DrawRecorder* DrawRecorder::Active()
{
    return g_recorder;
}

std::vector<DrawCall> DrawRecorder::Of(const std::string& op, const CDC* dc) const
{
    std::vector<DrawCall> out;
    for (const DrawCall& c : calls)
        if (c.op == op && (!dc || c.dc == dc))
            out.push_back(c);
    return out;
}

void DrawRecorder::Add(const CDC& dc, const char* op, std::vector<int> args, std::string text, COLORREF fill)
{
    DrawCall c;
    c.dc = &dc;
    c.op = op;
    c.args = std::move(args);
    c.text = std::move(text);
    if (dc.m_pen) {
        c.penStyle = dc.m_pen->style;
        c.penWidth = dc.m_pen->width;
        c.penColor = dc.m_pen->color;
    }
    if (dc.m_brush) {
        c.brushHollow = dc.m_brush->hollow;
        c.brushColor = dc.m_brush->color;
    }
    if (dc.m_font) {
        c.fontHeight = dc.m_font->lf.lfHeight;
        c.fontWeight = dc.m_font->lf.lfWeight;
        c.fontCharSet = dc.m_font->lf.lfCharSet;
        c.fontFace = dc.m_font->lf.lfFaceName;
    }
    c.bkMode = dc.m_bkMode;
    c.textColor = dc.m_textColor;
    c.polyFillMode = dc.m_polyFillMode;
    c.fillColor = fill;
    calls.push_back(std::move(c));
}

#define RECORD(...)                                                                                                    \
    do {                                                                                                               \
        if (DrawRecorder* rec_ = DrawRecorder::Active())                                                               \
            rec_->Add(*this, __VA_ARGS__);                                                                             \
    } while (0)

// ---------------------------------------------------------------- context

CDC::CDC() = default;

CDC::CDC(QPainter* painter)
{
    AttachPainter(painter);
}

CDC::~CDC()
{
    DeleteDC();
}

void CDC::AttachPainter(QPainter* painter)
{
    if (m_kind != Kind::None || !painter || !painter->isActive())
        return;
    m_kind = Kind::Painter;
    m_painter = painter;
    ResetState();
}

void CDC::ResetState()
{
    m_pPen = StockPen(BLACK_PEN);
    m_pen = m_pPen->Data();
    m_pBrush = StockBrush(WHITE_BRUSH);
    m_brush = m_pBrush->Data();
    m_pFont = StockFont(SYSTEM_FONT);
    m_font = m_pFont->Data();
    m_bkMode = OPAQUE;
    m_bkColor = RGB(255, 255, 255);
    m_textColor = RGB(0, 0, 0);
    m_polyFillMode = ALTERNATE;
    m_mapMode = MM_TEXT;
    m_org = {};
    m_cur = {};
}

BOOL CDC::CreateCompatibleDC(CDC*)
{
    if (m_kind != Kind::None)
        return FALSE;
    m_kind = Kind::Memory;
    m_defaultBitmap = std::make_unique<CBitmap>();
    m_defaultBitmap->CreateBitmap(1, 1);
    m_pBitmap = m_defaultBitmap.get();
    m_image = m_pBitmap->Image();
    ResetState();
    return TRUE;
}

void CDC::EndPainter()
{
    if (m_ownedPainter) {
        m_ownedPainter->end();
        m_ownedPainter.reset();
    }
}

BOOL CDC::DeleteDC()
{
    if (m_kind == Kind::None)
        return FALSE;
    EndPainter();
    m_kind = Kind::None;
    m_painter = nullptr;
    m_pBitmap = nullptr;
    m_image.reset();
    m_defaultBitmap.reset();
    m_pPen = nullptr;
    m_pen.reset();
    m_pBrush = nullptr;
    m_brush.reset();
    m_pFont = nullptr;
    m_font.reset();
    return TRUE;
}

const void* CDC::GetSafeHdc() const
{
    return m_kind == Kind::None ? nullptr : this;
}

QPainter* CDC::Painter()
{
    switch (m_kind) {
    case Kind::Painter:
        return m_painter;
    case Kind::Memory:
        if (!m_ownedPainter) {
            if (!m_image || m_image->isNull())
                return nullptr;
            m_ownedPainter = std::make_unique<QPainter>(m_image.get());
        }
        return m_ownedPainter.get();
    case Kind::None:
        break;
    }
    return nullptr;
}

qreal CDC::DevicePixelRatio() const
{
    switch (m_kind) {
    case Kind::Painter:
        return m_painter && m_painter->device() ? m_painter->device()->devicePixelRatio() : 1.0;
    case Kind::Memory:
        return m_image && !m_image->isNull() ? m_image->devicePixelRatio() : 1.0;
    case Kind::None:
        break;
    }
    return 1.0;
}

const QImage* CDC::SourceImage() const
{
    if (m_kind == Kind::Memory)
        return m_image && !m_image->isNull() ? m_image.get() : nullptr;
    if (m_kind == Kind::Painter && m_painter->device() && m_painter->device()->devType() == QInternal::Image)
        return static_cast<const QImage*>(m_painter->device());
    return nullptr;
}

// ---------------------------------------------------------------- objects

CPen* CDC::SelectObject(CPen* pPen)
{
    if (m_kind == Kind::None || !pPen || !pPen->Data())
        return nullptr;
    CPen* prev = m_pPen;
    m_pPen = pPen;
    m_pen = pPen->Data();
    return prev;
}

CBrush* CDC::SelectObject(CBrush* pBrush)
{
    if (m_kind == Kind::None || !pBrush || !pBrush->Data())
        return nullptr;
    CBrush* prev = m_pBrush;
    m_pBrush = pBrush;
    m_brush = pBrush->Data();
    return prev;
}

CFont* CDC::SelectObject(CFont* pFont)
{
    if (m_kind == Kind::None || !pFont || !pFont->Data())
        return nullptr;
    CFont* prev = m_pFont;
    m_pFont = pFont;
    m_font = pFont->Data();
    return prev;
}

CBitmap* CDC::SelectObject(CBitmap* pBitmap)
{
    // Only a memory context holds a bitmap.
    if (m_kind != Kind::Memory || !pBitmap || !pBitmap->Image())
        return nullptr;
    CBitmap* prev = m_pBitmap;
    if (pBitmap->Image() != m_image) {
        EndPainter();
        m_image = pBitmap->Image();
    }
    m_pBitmap = pBitmap;
    return prev;
}

CGdiObject* CDC::SelectObject(CGdiObject* pObject)
{
    if (!pObject)
        return nullptr;
    switch (pObject->GetKind()) {
    case CGdiObject::Kind::Pen:
        return SelectObject(static_cast<CPen*>(pObject));
    case CGdiObject::Kind::Brush:
        return SelectObject(static_cast<CBrush*>(pObject));
    case CGdiObject::Kind::Font:
        return SelectObject(static_cast<CFont*>(pObject));
    case CGdiObject::Kind::Bitmap:
        return SelectObject(static_cast<CBitmap*>(pObject));
    case CGdiObject::Kind::Region:
        return nullptr;
    }
    return nullptr;
}

CGdiObject* CDC::SelectStockObject(int nIndex)
{
    return SelectObject(GetStockObject(nIndex));
}

int CDC::SetBkMode(int nBkMode)
{
    const int prev = m_bkMode;
    if (nBkMode == TRANSPARENT || nBkMode == OPAQUE)
        m_bkMode = nBkMode;
    return prev;
}

COLORREF CDC::SetBkColor(COLORREF crColor)
{
    return std::exchange(m_bkColor, crColor);
}
COLORREF CDC::SetTextColor(COLORREF crColor)
{
    return std::exchange(m_textColor, crColor);
}

int CDC::SetPolyFillMode(int nPolyFillMode)
{
    const int prev = m_polyFillMode;
    if (nPolyFillMode == ALTERNATE || nPolyFillMode == WINDING)
        m_polyFillMode = nPolyFillMode;
    return prev;
}

int CDC::SetMapMode(int nMapMode)
{
    // Only the identity mapping is used; any other request keeps it.
    (void)nMapMode;
    return m_mapMode;
}

POINT CDC::SetWindowOrg(int x, int y)
{
    RECORD("SetWindowOrg", {x, y});
    return std::exchange(m_org, POINT{x, y});
}

int CDC::GetDeviceCaps(int nIndex) const
{
    switch (nIndex) {
    case LOGPIXELSX:
    case LOGPIXELSY:
        return 96;
    default:
        return 0;
    }
}

// ---------------------------------------------------------------- strokes and fills

bool CDC::HasStyledOpaqueGaps() const
{
    return m_bkMode == OPAQUE && m_pen->style >= PS_DASH && m_pen->style <= PS_DASHDOTDOT;
}

template <class Fn> void CDC::Stroked(QPainter* p, bool fill, Fn&& draw)
{
    const QBrush brush = fill && !m_brush->hollow ? QBrush(m_brush->qcolor) : QBrush(Qt::NoBrush);
    if (HasStyledOpaqueGaps()) {
        // The gaps of a styled line take the background colour.
        QPen gaps = m_pen->pen;
        gaps.setStyle(Qt::SolidLine);
        gaps.setColor(ToQColor(m_bkColor));
        p->setPen(gaps);
        p->setBrush(brush);
        draw();
        p->setBrush(Qt::NoBrush);
        p->setPen(m_pen->pen);
        draw();
        return;
    }
    p->setPen(m_pen->pen);
    p->setBrush(brush);
    draw();
}

namespace
{
void Normalise(int& a, int& b)
{
    if (a > b)
        std::swap(a, b);
}
} // namespace

BOOL CDC::Ellipse(int x1, int y1, int x2, int y2)
{
    RECORD("Ellipse", {x1, y1, x2, y2});
    QPainter* p = Painter();
    if (!p)
        return FALSE;
    Normalise(x1, x2);
    Normalise(y1, y2);
    if (x2 - x1 < 1 || y2 - y1 < 1)
        return TRUE;
    const QRect box(x1 - m_org.x, y1 - m_org.y, x2 - x1 - 1, y2 - y1 - 1);
    Stroked(p, true, [&] { p->drawEllipse(box); });
    return TRUE;
}

BOOL CDC::Rectangle(int x1, int y1, int x2, int y2)
{
    RECORD("Rectangle", {x1, y1, x2, y2});
    QPainter* p = Painter();
    if (!p)
        return FALSE;
    Normalise(x1, x2);
    Normalise(y1, y2);
    if (x2 - x1 < 1 || y2 - y1 < 1)
        return TRUE;
    const QRect box(x1 - m_org.x, y1 - m_org.y, x2 - x1 - 1, y2 - y1 - 1);
    Stroked(p, true, [&] { p->drawRect(box); });
    return TRUE;
}

BOOL CDC::RoundRect(int x1, int y1, int x2, int y2, int nWidth, int nHeight)
{
    RECORD("RoundRect", {x1, y1, x2, y2, nWidth, nHeight});
    QPainter* p = Painter();
    if (!p)
        return FALSE;
    Normalise(x1, x2);
    Normalise(y1, y2);
    const int w = x2 - x1;
    const int h = y2 - y1;
    if (w < 1 || h < 1)
        return TRUE;
    const int ew = std::min(std::abs(nWidth), w);
    const int eh = std::min(std::abs(nHeight), h);
    const int L = x1 - m_org.x, T = y1 - m_org.y, R = x2 - 1 - m_org.x, B = y2 - 1 - m_org.y;
    if (ew < 2 || eh < 2) {
        const QRect box(L, T, w - 1, h - 1);
        Stroked(p, true, [&] { p->drawRect(box); });
        return TRUE;
    }
    const bool nullPen = m_pen->style == PS_NULL;
    const bool simplePen = m_pen->style == PS_SOLID && m_pen->width <= 1 && !nullPen;
    if (DevicePixelRatio() != 1.0) {
        // Several device pixels to a logical one: the same shape traced at
        // device resolution, the outline one logical pixel wide inside the box.
        QPainterPath path;
        const qreal inset = nullPen ? 0.0 : 0.5;
        path.addRoundedRect(QRectF(L + inset, T + inset, w - 1, h - 1), ew / 2.0, eh / 2.0);
        Stroked(p, true, [&] { p->drawPath(path); });
        return TRUE;
    }
    if (!simplePen && !nullPen) {
        QPainterPath path;
        path.addRoundedRect(QRectF(L, T, w - 1, h - 1), ew / 2.0, eh / 2.0);
        Stroked(p, true, [&] { p->drawPath(path); });
        return TRUE;
    }
    // Scanline spans of the shape, symmetric on the pixel grid by construction:
    // row y covers [L + inset(y), R - inset(y)]. A null pen leaves the right
    // and bottom edge out, as for Rectangle.
    const int right = nullPen ? R - 1 : R;
    const int bottom = nullPen ? B - 1 : B;
    const int rows = bottom - T + 1;
    if (rows < 1 || right < L)
        return TRUE;
    // A pixel belongs to the shape when its centre lies inside the corner
    // ellipse, which spans ew x eh pixels.
    const double rx = ew / 2.0;
    const double ry = eh / 2.0;
    std::vector<int> inset(static_cast<std::size_t>(rows), 0);
    for (int i = 0; i < rows; ++i) {
        const int dy = std::min(i, rows - 1 - i);
        const double v = (ry - (dy + 0.5)) / ry;
        if (v > 0) {
            const double x = rx - rx * std::sqrt(std::max(0.0, 1.0 - v * v));
            inset[static_cast<std::size_t>(i)] = std::max(0, static_cast<int>(std::ceil(x - 0.5)));
        }
    }
    if (!m_brush->hollow)
        for (int i = 0; i < rows; ++i) {
            const int a = L + inset[static_cast<std::size_t>(i)], b = right - inset[static_cast<std::size_t>(i)];
            if (b >= a)
                p->fillRect(QRect(a, T + i, b - a + 1, 1), m_brush->qcolor);
        }
    if (simplePen) {
        // The outline: every pixel of a row that has no neighbour above or below it.
        const QColor pen = m_pen->pen.color();
        auto edge = [&](int i, int from, int to) {
            if (to >= from)
                p->fillRect(QRect(from, T + i, to - from + 1, 1), pen);
        };
        for (int i = 0; i < rows; ++i) {
            const int in = inset[static_cast<std::size_t>(i)];
            const int up = i > 0 ? inset[static_cast<std::size_t>(i - 1)] : -1;
            const int down = i + 1 < rows ? inset[static_cast<std::size_t>(i + 1)] : -1;
            if (up < 0 || down < 0) {
                edge(i, L + in, right - in);
                continue;
            }
            const int outer = std::max({in, up, down});
            const int reach = std::max(in, outer - 1);
            edge(i, L + in, L + reach);
            edge(i, right - reach, right - in);
        }
    }
    return TRUE;
}

BOOL CDC::Polygon(const POINT* lpPoints, int nCount)
{
    std::vector<int> args;
    if (DrawRecorder::Active() && lpPoints && nCount > 0) {
        args.reserve(static_cast<std::size_t>(nCount) * 2);
        for (int i = 0; i < nCount; ++i) {
            args.push_back(lpPoints[i].x);
            args.push_back(lpPoints[i].y);
        }
    }
    RECORD("Polygon", std::move(args));
    QPainter* p = Painter();
    if (!p || !lpPoints || nCount < 2)
        return FALSE;
    QPolygon poly;
    poly.reserve(nCount);
    for (int i = 0; i < nCount; ++i)
        poly << QPoint(lpPoints[i].x - m_org.x, lpPoints[i].y - m_org.y);
    const Qt::FillRule rule = m_polyFillMode == WINDING ? Qt::WindingFill : Qt::OddEvenFill;
    Stroked(p, true, [&] { p->drawPolygon(poly, rule); });
    return TRUE;
}

POINT CDC::MoveTo(int x, int y)
{
    RECORD("MoveTo", {x, y});
    return std::exchange(m_cur, POINT{x, y});
}

BOOL CDC::LineTo(int x, int y)
{
    RECORD("LineTo", {x, y});
    const POINT from = std::exchange(m_cur, POINT{x, y});
    QPainter* p = Painter();
    if (!p)
        return FALSE;
    if (from == m_cur)
        return TRUE;
    const QLine line(from.x - m_org.x, from.y - m_org.y, x - m_org.x, y - m_org.y);
    Stroked(p, false, [&] { p->drawLine(line); });
    return TRUE;
}

void CDC::FillRect(LPCRECT lpRect, CBrush* pBrush)
{
    if (!lpRect || !pBrush || !pBrush->Data())
        return;
    const auto& b = pBrush->Data();
    RECORD("FillRect", {lpRect->left, lpRect->top, lpRect->right, lpRect->bottom}, {}, b->color);
    QPainter* p = Painter();
    if (!p || b->hollow || lpRect->right <= lpRect->left || lpRect->bottom <= lpRect->top)
        return;
    p->fillRect(QRect(lpRect->left - m_org.x, lpRect->top - m_org.y, lpRect->right - lpRect->left,
                      lpRect->bottom - lpRect->top),
                b->qcolor);
}

void CDC::FillSolidRect(LPCRECT lpRect, COLORREF clr)
{
    CBrush brush(clr);
    FillRect(lpRect, &brush);
}

BOOL CDC::FillRgn(CRgn* pRgn, CBrush* pBrush)
{
    if (!pRgn || !pRgn->Data() || !pBrush || !pBrush->Data())
        return FALSE;
    const auto& r = pRgn->Data();
    const auto& b = pBrush->Data();
    std::vector<int> args;
    if (DrawRecorder::Active())
        for (const QPoint& pt : r->polygon) {
            args.push_back(pt.x());
            args.push_back(pt.y());
        }
    RECORD("FillRgn", std::move(args), {}, b->color);
    QPainter* p = Painter();
    if (!p)
        return FALSE;
    if (b->hollow)
        return TRUE;
    p->setPen(Qt::NoPen);
    p->setBrush(b->qcolor);
    p->drawPolygon(r->polygon.translated(-m_org.x, -m_org.y), r->rule);
    return TRUE;
}

// ---------------------------------------------------------------- text

namespace
{

// The mnemonic markers of DrawText: "&x" shows x, "&&" shows "&".
QString StripPrefixes(const QString& s)
{
    QString out;
    out.reserve(s.size());
    for (qsizetype i = 0; i < s.size(); ++i) {
        if (s[i] == u'&') {
            if (i + 1 < s.size())
                out += s[++i];
            continue;
        }
        out += s[i];
    }
    return out;
}

} // namespace

BOOL CDC::TextOut(int x, int y, std::string_view text)
{
    RECORD("TextOut", {x, y}, std::string(text));
    QPainter* p = Painter();
    if (!p)
        return FALSE;
    if (text.empty())
        return TRUE;
    const QString s = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    p->setFont(m_font->font);
    const QPoint at(x - m_org.x, y - m_org.y);
    const int esc = m_font->lf.lfEscapement;
    if (esc != 0) {
        p->save();
        p->translate(at);
        p->rotate(-esc / 10.0);
    }
    const QPoint origin = esc != 0 ? QPoint(0, 0) : at;
    if (m_bkMode == OPAQUE) {
        const int w = QFontMetrics(m_font->font).horizontalAdvance(s);
        p->fillRect(QRect(origin.x(), origin.y(), w, m_font->cellHeight), ToQColor(m_bkColor));
    }
    p->setPen(ToQColor(m_textColor));
    p->drawText(QPoint(origin.x(), origin.y() + m_font->ascent), s);
    if (esc != 0)
        p->restore();
    return TRUE;
}

int CDC::DrawText(std::string_view text, LPRECT lpRect, UINT nFormat)
{
    if (!lpRect)
        return 0;
    RECORD("DrawText", {lpRect->left, lpRect->top, lpRect->right, lpRect->bottom, static_cast<int>(nFormat)},
           std::string(text));
    if (m_kind == Kind::None)
        return 0;
    QString s = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    if (!(nFormat & DT_NOPREFIX))
        s = StripPrefixes(s);
    QStringList lines;
    if (nFormat & DT_SINGLELINE) {
        s.replace(QLatin1String("\r\n"), QLatin1String(" "));
        s.replace(u'\n', u' ');
        s.replace(u'\r', u' ');
        lines << s;
    } else {
        s.replace(QLatin1String("\r\n"), QLatin1String("\n"));
        s.replace(u'\r', u'\n');
        lines = s.split(u'\n');
    }
    const QFontMetrics fm(m_font->font);
    const int lineH = m_font->cellHeight;
    const int totalH = lineH * static_cast<int>(lines.size());
    std::vector<int> widths;
    widths.reserve(static_cast<std::size_t>(lines.size()));
    int maxW = 0;
    for (const QString& line : lines) {
        widths.push_back(fm.horizontalAdvance(line));
        maxW = std::max(maxW, widths.back());
    }
    if (nFormat & DT_CALCRECT) {
        lpRect->right = lpRect->left + maxW;
        lpRect->bottom = lpRect->top + totalH;
        return totalH;
    }
    QPainter* p = Painter();
    if (!p)
        return 0;
    const RECT& r = *lpRect;
    int y = r.top;
    if (nFormat & DT_SINGLELINE) {
        if (nFormat & DT_VCENTER)
            y = r.top + (r.bottom - r.top - lineH) / 2;
        else if (nFormat & DT_BOTTOM)
            y = r.bottom - lineH;
    }
    const bool clip = !(nFormat & DT_NOCLIP);
    if (clip) {
        p->save();
        p->setClipRect(QRect(r.left - m_org.x, r.top - m_org.y, r.right - r.left, r.bottom - r.top), Qt::IntersectClip);
    }
    p->setFont(m_font->font);
    const QColor textColor = ToQColor(m_textColor);
    for (qsizetype i = 0; i < lines.size(); ++i, y += lineH) {
        const int w = widths[static_cast<std::size_t>(i)];
        int x = r.left;
        if (nFormat & DT_CENTER)
            x = r.left + (r.right - r.left - w) / 2;
        else if (nFormat & DT_RIGHT)
            x = r.right - w;
        if (m_bkMode == OPAQUE && w > 0)
            p->fillRect(QRect(x - m_org.x, y - m_org.y, w, lineH), ToQColor(m_bkColor));
        if (!lines[i].isEmpty()) {
            p->setPen(textColor);
            p->drawText(QPoint(x - m_org.x, y - m_org.y + m_font->ascent), lines[i]);
        }
    }
    if (clip)
        p->restore();
    return (nFormat & DT_SINGLELINE) ? y - r.top : totalH;
}

CSize CDC::GetTextExtent(std::string_view text) const
{
    if (!m_font)
        return {};
    const QString s = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    return CSize(QFontMetrics(m_font->font).horizontalAdvance(s), m_font->cellHeight);
}

BOOL CDC::GetTextExtentPoint32(const char* lpString, int c, SIZE* lpSize) const
{
    if (!lpSize || !m_font || c < 0)
        return FALSE;
    *lpSize = GetTextExtent(std::string_view(lpString ? lpString : "", lpString ? static_cast<std::size_t>(c) : 0));
    return TRUE;
}

// ---------------------------------------------------------------- transfers

BOOL CDC::BitBlt(int x, int y, int nWidth, int nHeight, CDC* pSrcDC, int xSrc, int ySrc, DWORD dwRop)
{
    RECORD("BitBlt", {x, y, nWidth, nHeight, xSrc, ySrc, static_cast<int>(dwRop)});
    if (dwRop != SRCCOPY || !pSrcDC)
        return FALSE;
    const QImage* src = pSrcDC->SourceImage();
    QPainter* p = Painter();
    if (!src || !p)
        return FALSE;
    if (nWidth <= 0 || nHeight <= 0)
        return TRUE;
    QRect from(xSrc - pSrcDC->m_org.x, ySrc - pSrcDC->m_org.y, nWidth, nHeight);
    QRect to(x - m_org.x, y - m_org.y, nWidth, nHeight);
    // Only the part of the source that exists is copied; the rest of the
    // destination keeps its pixels. Rectangles are logical; a source of
    // several device pixels per logical one gives them all.
    const qreal dpr = src->devicePixelRatio();
    const QRect logicalSource(0, 0, static_cast<int>(src->width() / dpr), static_cast<int>(src->height() / dpr));
    const QRect have = from.intersected(logicalSource);
    if (have.isEmpty())
        return TRUE;
    to.translate(have.topLeft() - from.topLeft());
    to.setSize(have.size());
    from = have;
    if (dpr != 1.0) {
        from = QRect(static_cast<int>(from.x() * dpr), static_cast<int>(from.y() * dpr),
                     static_cast<int>(from.width() * dpr), static_cast<int>(from.height() * dpr));
    }
    const QPainter::CompositionMode mode = p->compositionMode();
    p->setCompositionMode(QPainter::CompositionMode_Source);
    if (src == SourceImage())
        p->drawImage(to, src->copy(from));
    else
        p->drawImage(to, *src, from);
    p->setCompositionMode(mode);
    return TRUE;
}

COLORREF CDC::GetPixel(int x, int y) const
{
    const QImage* img = SourceImage();
    if (!img)
        return 0xFFFFFFFFu;
    // The first device pixel under the logical one.
    const qreal dpr = img->devicePixelRatio();
    const QPoint at(static_cast<int>((x - m_org.x) * dpr), static_cast<int>((y - m_org.y) * dpr));
    if (x - m_org.x < 0 || y - m_org.y < 0 || !img->rect().contains(at))
        return 0xFFFFFFFFu;
    return FromQRgb(img->pixel(at));
}

// ---------------------------------------------------------------- window contexts

CPaintDC::CPaintDC(QWidget* widget)
{
    if (widget) {
        m_widgetPainter = std::make_unique<QPainter>(widget);
        AttachPainter(m_widgetPainter.get());
    }
}

CPaintDC::~CPaintDC()
{
    DeleteDC();
    if (m_widgetPainter)
        m_widgetPainter->end();
}

CClientDC::CClientDC(QWidget* widget)
{
    if (widget && widget->testAttribute(Qt::WA_WState_InPaintEvent)) {
        m_widgetPainter = std::make_unique<QPainter>(widget);
        AttachPainter(m_widgetPainter.get());
    }
}

CClientDC::~CClientDC()
{
    DeleteDC();
    if (m_widgetPainter)
        m_widgetPainter->end();
}
