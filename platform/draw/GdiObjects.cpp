#include "platform/draw/GdiObjects.h"

#include <QFontMetricsF>
#include <QHash>
#include <QString>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "platform/draw/CDC.h"

QColor ToQColor(COLORREF c)
{
    return QColor(GetRValue(c), GetGValue(c), GetBValue(c));
}
COLORREF FromQRgb(QRgb rgb)
{
    return RGB(qRed(rgb), qGreen(rgb), qBlue(rgb));
}

// ---------------------------------------------------------------- pens

BOOL CPen::CreatePen(int style, int width, COLORREF color)
{
    if (m_data)
        return FALSE;
    auto d = std::make_shared<PenData>();
    d->style = style;
    d->width = width;
    d->color = color;
    if (style == PS_NULL) {
        d->pen = QPen(Qt::NoPen);
    } else {
        const int w = std::max(1, width);
        QPen pen(ToQColor(color), w);
        if (w > 1) {
            // Wide pens end and join round, as the platform's geometric pens do.
            pen.setCapStyle(Qt::RoundCap);
            pen.setJoinStyle(Qt::RoundJoin);
        } else {
            // One-pixel lines leave out their last pixel.
            pen.setCapStyle(Qt::FlatCap);
            pen.setJoinStyle(Qt::MiterJoin);
        }
        // Dash patterns of one-pixel pens, in pixels.
        switch (style) {
        case PS_DASH:
            pen.setDashPattern({18.0 / w, 6.0 / w});
            break;
        case PS_DOT:
            pen.setDashPattern({3.0 / w, 3.0 / w});
            break;
        case PS_DASHDOT:
            pen.setDashPattern({9.0 / w, 6.0 / w, 3.0 / w, 6.0 / w});
            break;
        case PS_DASHDOTDOT:
            pen.setDashPattern({9.0 / w, 3.0 / w, 3.0 / w, 3.0 / w, 3.0 / w, 3.0 / w});
            break;
        default:
            break;
        }
        d->pen = pen;
    }
    m_data = std::move(d);
    return TRUE;
}

BOOL CPen::DeleteObject()
{
    if (!m_data)
        return FALSE;
    m_data.reset();
    return TRUE;
}

// ---------------------------------------------------------------- brushes

BOOL CBrush::CreateSolidBrush(COLORREF color)
{
    if (m_data)
        return FALSE;
    auto d = std::make_shared<BrushData>();
    d->color = color;
    d->qcolor = ToQColor(color);
    m_data = std::move(d);
    return TRUE;
}

BOOL CBrush::CreateHollowBrush()
{
    if (m_data)
        return FALSE;
    auto d = std::make_shared<BrushData>();
    d->hollow = true;
    m_data = std::move(d);
    return TRUE;
}

BOOL CBrush::DeleteObject()
{
    if (!m_data)
        return FALSE;
    m_data.reset();
    return TRUE;
}

// ---------------------------------------------------------------- fonts

namespace
{

QByteArray FontKey(const LOGFONT& lf)
{
    QByteArray key(reinterpret_cast<const char*>(&lf), offsetof(LOGFONT, lfFaceName));
    key.append(lf.lfFaceName, static_cast<qsizetype>(strnlen(lf.lfFaceName, LF_FACESIZE)));
    return key;
}

std::shared_ptr<const FontData> Realise(const LOGFONT& lf)
{
    // Fonts are made anew for every drawing; realise each description once.
    // Never destroyed: Qt's font machinery is gone by the time statics are.
    static auto& cache = *new QHash<QByteArray, std::shared_ptr<const FontData>>;
    const QByteArray key = FontKey(lf);
    if (auto it = cache.constFind(key); it != cache.constEnd())
        return it.value();

    QFont f;
    const QString face = QString::fromUtf8(lf.lfFaceName, static_cast<qsizetype>(strnlen(lf.lfFaceName, LF_FACESIZE)));
    if (!face.isEmpty())
        f.setFamily(face);
    const int weight = lf.lfWeight == FW_DONTCARE ? FW_NORMAL : std::clamp<int>(lf.lfWeight, 1, 1000);
    f.setWeight(static_cast<QFont::Weight>(weight));
    f.setItalic(lf.lfItalic != 0);
    f.setUnderline(lf.lfUnderline != 0);
    f.setStrikeOut(lf.lfStrikeOut != 0);
    switch (lf.lfPitchAndFamily & 0xF0) {
    case FF_ROMAN:
        f.setStyleHint(QFont::Serif);
        break;
    case FF_SWISS:
        f.setStyleHint(QFont::SansSerif);
        break;
    case FF_MODERN:
        f.setStyleHint(QFont::Monospace);
        break;
    case FF_SCRIPT:
        f.setStyleHint(QFont::Cursive);
        break;
    case FF_DECORATIVE:
        f.setStyleHint(QFont::Decorative);
        break;
    default:
        break;
    }
    if ((lf.lfPitchAndFamily & 0x03) == FIXED_PITCH)
        f.setFixedPitch(true);
    if (lf.lfQuality == NONANTIALIASED_QUALITY)
        f.setStyleStrategy(QFont::NoAntialias);
    else if (lf.lfQuality == ANTIALIASED_QUALITY || lf.lfQuality == CLEARTYPE_QUALITY)
        f.setStyleStrategy(QFont::PreferAntialias);

    // The face's proportions, measured large: ascent and descent per pixel of em.
    constexpr int kRef = 256;
    QFont ref = f;
    ref.setPixelSize(kRef);
    const QFontMetricsF rm(ref);
    const double a = rm.ascent() / kRef;
    const double d = rm.descent() / kRef;
    const double cellPerEm = (a + d) > 0 ? a + d : 1.0;

    auto data = std::make_shared<FontData>();
    data->lf = lf;
    int px;
    if (lf.lfHeight > 0) {
        // Cell height: scale the em so that ascent + descent is the height.
        data->cellHeight = lf.lfHeight;
        px = static_cast<int>(std::lround(lf.lfHeight / cellPerEm));
        data->ascent = static_cast<int>(std::lround(lf.lfHeight * a / cellPerEm));
    } else {
        // Character height (the em), or a 12-pixel default.
        px = lf.lfHeight < 0 ? -lf.lfHeight : 12;
        data->cellHeight = static_cast<int>(std::lround(px * cellPerEm));
        data->ascent = static_cast<int>(std::lround(px * a));
    }
    f.setPixelSize(std::max(1, px));
    if (lf.lfWidth > 0) {
        const double avg = QFontMetricsF(f).averageCharWidth();
        if (avg > 0)
            f.setStretch(std::clamp(static_cast<int>(std::lround(100.0 * lf.lfWidth / avg)), 1, 4000));
    }
    data->font = f;
    if (cache.size() > 512)
        cache.clear();
    cache.insert(key, data);
    return data;
}

} // namespace

BOOL CFont::CreateFont(int nHeight, int nWidth, int nEscapement, int nOrientation, int nWeight, BYTE bItalic,
                       BYTE bUnderline, BYTE cStrikeOut, BYTE nCharSet, BYTE nOutPrecision, BYTE nClipPrecision,
                       BYTE nQuality, BYTE nPitchAndFamily, const char* lpszFacename)
{
    LOGFONT lf;
    lf.lfHeight = nHeight;
    lf.lfWidth = nWidth;
    lf.lfEscapement = nEscapement;
    lf.lfOrientation = nOrientation;
    lf.lfWeight = nWeight;
    lf.lfItalic = bItalic;
    lf.lfUnderline = bUnderline;
    lf.lfStrikeOut = cStrikeOut;
    lf.lfCharSet = nCharSet;
    lf.lfOutPrecision = nOutPrecision;
    lf.lfClipPrecision = nClipPrecision;
    lf.lfQuality = nQuality;
    lf.lfPitchAndFamily = nPitchAndFamily;
    if (lpszFacename)
        std::strncpy(lf.lfFaceName, lpszFacename, LF_FACESIZE - 1);
    return CreateFontIndirect(&lf);
}

BOOL CFont::CreateFontIndirect(const LOGFONT* lpLogFont)
{
    if (m_data || !lpLogFont)
        return FALSE;
    LOGFONT lf = *lpLogFont;
    lf.lfFaceName[LF_FACESIZE - 1] = '\0';
    m_data = Realise(lf);
    return TRUE;
}

BOOL CFont::CreatePointFont(int nPointSize, const char* lpszFaceName, CDC* pDC)
{
    // Tenths of a point to pixels, rounded, as a character height.
    const int dpi = pDC ? pDC->GetDeviceCaps(LOGPIXELSY) : 96;
    const long long num = static_cast<long long>(nPointSize) * dpi;
    const int px = static_cast<int>((num >= 0 ? num + 360 : num - 360) / 720);
    LOGFONT lf;
    lf.lfHeight = -std::abs(px);
    lf.lfCharSet = DEFAULT_CHARSET;
    if (lpszFaceName)
        std::strncpy(lf.lfFaceName, lpszFaceName, LF_FACESIZE - 1);
    return CreateFontIndirect(&lf);
}

BOOL CFont::DeleteObject()
{
    if (!m_data)
        return FALSE;
    m_data.reset();
    return TRUE;
}

int CFont::GetLogFont(LOGFONT* pLogFont) const
{
    if (!m_data || !pLogFont)
        return 0;
    *pLogFont = m_data->lf;
    return static_cast<int>(sizeof(LOGFONT));
}

// ---------------------------------------------------------------- bitmaps

BOOL CBitmap::CreateCompatibleBitmap(CDC* pDC, int nWidth, int nHeight)
{
    return Create(pDC, nWidth, nHeight, true);
}

BOOL CBitmap::CreateCompatibleBitmapUncleared(CDC* pDC, int nWidth, int nHeight)
{
    return Create(pDC, nWidth, nHeight, false);
}

namespace
{

// Back buffers of paints come and go at display rate, for every paint of a
// gauge. Their memory is kept for the next one of the same size instead of
// going back to the system and being faulted in anew (four times as much of
// it at 200 % scale).
std::vector<std::shared_ptr<QImage>>& SpareBuffers()
{
    thread_local std::vector<std::shared_ptr<QImage>> spares;
    return spares;
}
constexpr std::size_t kMaxSpareBuffers = 4;

} // namespace

BOOL CBitmap::Create(CDC* pDC, int nWidth, int nHeight, bool clear)
{
    if (m_image || nWidth < 0 || nHeight < 0)
        return FALSE;
    // As many pixels as the context's device has under the logical size, so
    // that what is drawn through it is as sharp as the device allows.
    const qreal dpr = pDC ? pDC->DevicePixelRatio() : 1.0;
    const QSize pixels(static_cast<int>(std::ceil(nWidth * dpr)), static_cast<int>(std::ceil(nHeight * dpr)));
    m_bReusable = !clear;
    if (!clear) {
        auto& spares = SpareBuffers();
        for (auto it = spares.begin(); it != spares.end(); ++it) {
            if ((*it)->size() == pixels && (*it)->devicePixelRatio() == dpr) {
                m_image = std::move(*it);
                spares.erase(it);
                return TRUE;
            }
        }
    }
    auto img = std::make_shared<QImage>(pixels, QImage::Format_RGB32);
    if (clear && !img->isNull())
        img->fill(0xFF000000u);
    img->setDevicePixelRatio(dpr);
    m_image = std::move(img);
    return TRUE;
}

BOOL CBitmap::CreateBitmap(int nWidth, int nHeight)
{
    if (m_image || nWidth < 0 || nHeight < 0)
        return FALSE;
    auto img = std::make_shared<QImage>(nWidth, nHeight, QImage::Format_RGB32);
    if (!img->isNull())
        img->fill(0xFF000000u);
    m_image = std::move(img);
    return TRUE;
}

BOOL CBitmap::DeleteObject()
{
    if (!m_image)
        return FALSE;
    auto& spares = SpareBuffers();
    if (m_bReusable && m_image.use_count() == 1 && !m_image->isNull() && spares.size() < kMaxSpareBuffers)
        spares.push_back(std::move(m_image));
    m_image.reset();
    m_bReusable = false;
    return TRUE;
}

// ---------------------------------------------------------------- regions

BOOL CRgn::CreatePolygonRgn(const POINT* lpPoints, int nCount, int nMode)
{
    if (m_data || !lpPoints || nCount < 2)
        return FALSE;
    auto d = std::make_shared<RgnData>();
    d->polygon.reserve(nCount);
    for (int i = 0; i < nCount; ++i)
        d->polygon << QPoint(lpPoints[i].x, lpPoints[i].y);
    d->rule = nMode == WINDING ? Qt::WindingFill : Qt::OddEvenFill;
    m_data = std::move(d);
    return TRUE;
}

BOOL CRgn::CreateRectRgn(int x1, int y1, int x2, int y2)
{
    if (m_data)
        return FALSE;
    auto d = std::make_shared<RgnData>();
    d->polygon << QPoint(x1, y1) << QPoint(x2, y1) << QPoint(x2, y2) << QPoint(x1, y2);
    m_data = std::move(d);
    return TRUE;
}

BOOL CRgn::DeleteObject()
{
    if (!m_data)
        return FALSE;
    m_data.reset();
    return TRUE;
}

// ---------------------------------------------------------------- stock objects

namespace
{

struct Stock {
    CBrush white, ltgray, gray, dkgray, black, hollow;
    CPen whitePen, blackPen, nullPen;
    CFont system, gui;
    Stock()
    {
        white.CreateSolidBrush(RGB(255, 255, 255));
        ltgray.CreateSolidBrush(RGB(192, 192, 192));
        gray.CreateSolidBrush(RGB(128, 128, 128));
        dkgray.CreateSolidBrush(RGB(64, 64, 64));
        black.CreateSolidBrush(RGB(0, 0, 0));
        hollow.CreateHollowBrush();
        whitePen.CreatePen(PS_SOLID, 0, RGB(255, 255, 255));
        blackPen.CreatePen(PS_SOLID, 0, RGB(0, 0, 0));
        nullPen.CreatePen(PS_NULL, 0, 0);
        system.CreateFont(16, 0, 0, 0, FW_BOLD, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, VARIABLE_PITCH | FF_SWISS, "");
        gui.CreateFont(-11, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, "MS Shell Dlg");
    }
};

Stock& TheStock()
{
    static Stock* stock = new Stock; // lives to the end of the process
    return *stock;
}

} // namespace

CGdiObject* GetStockObject(int nIndex)
{
    Stock& s = TheStock();
    switch (nIndex) {
    case WHITE_BRUSH:
        return &s.white;
    case LTGRAY_BRUSH:
        return &s.ltgray;
    case GRAY_BRUSH:
        return &s.gray;
    case DKGRAY_BRUSH:
        return &s.dkgray;
    case BLACK_BRUSH:
        return &s.black;
    case NULL_BRUSH:
        return &s.hollow;
    case WHITE_PEN:
        return &s.whitePen;
    case BLACK_PEN:
        return &s.blackPen;
    case NULL_PEN:
        return &s.nullPen;
    case SYSTEM_FONT:
        return &s.system;
    case DEFAULT_GUI_FONT:
        return &s.gui;
    default:
        return nullptr;
    }
}

CPen* StockPen(int nIndex)
{
    return dynamic_cast<CPen*>(GetStockObject(nIndex));
}
CBrush* StockBrush(int nIndex)
{
    return dynamic_cast<CBrush*>(GetStockObject(nIndex));
}
CFont* StockFont(int nIndex)
{
    return dynamic_cast<CFont*>(GetStockObject(nIndex));
}
