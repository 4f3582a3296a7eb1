// The drawing context: selected pen, brush, font and bitmap, text state and a
// window origin, over a QPainter. Coordinates are logical: device = logical -
// window origin. Lines and fills are aliased; boxes exclude their right and
// bottom edges, so an outline lies inside its box.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include <QtGlobal>

#include "platform/draw/GdiObjects.h"
#include "platform/posix/WinTypes.h"

class QPainter;
class QWidget;

struct SIZE {
    LONG cx = 0;
    LONG cy = 0;
    friend bool operator==(const SIZE&, const SIZE&) = default;
};
struct CSize : SIZE {
    CSize() = default;
    CSize(LONG x, LONG y) : SIZE{x, y} {}
};

using LPRECT = RECT*;
using LPCRECT = const RECT*;

// Background modes
constexpr int TRANSPARENT = 1;
constexpr int OPAQUE = 2;

// Mapping modes (only the identity one is supported)
constexpr int MM_TEXT = 1;

// DrawText formats
constexpr UINT DT_TOP = 0x0000;
constexpr UINT DT_LEFT = 0x0000;
constexpr UINT DT_CENTER = 0x0001;
constexpr UINT DT_RIGHT = 0x0002;
constexpr UINT DT_VCENTER = 0x0004;
constexpr UINT DT_BOTTOM = 0x0008;
constexpr UINT DT_WORDBREAK = 0x0010; // accepted; lines break only at explicit line breaks
constexpr UINT DT_SINGLELINE = 0x0020;
constexpr UINT DT_NOCLIP = 0x0100;
constexpr UINT DT_CALCRECT = 0x0400;
constexpr UINT DT_NOPREFIX = 0x0800;

// Raster operations
constexpr DWORD SRCCOPY = 0x00CC0020;

// Device capabilities
constexpr int LOGPIXELSX = 88;
constexpr int LOGPIXELSY = 90;

class CDC
{
public:
    // A context object without a context; CreateCompatibleDC gives it one.
    CDC();
    // Attaches to a painter that is already active (not owned).
    explicit CDC(QPainter* painter);
    CDC(const CDC&) = delete;
    CDC& operator=(const CDC&) = delete;
    virtual ~CDC();

    // A memory context with a 1 x 1 bitmap selected, like the platform's.
    BOOL CreateCompatibleDC(CDC* pDC);
    BOOL DeleteDC();
    // Non-null while the object has a context.
    const void* GetSafeHdc() const;
    bool IsMemoryDC() const { return m_kind == Kind::Memory; }

    CPen* SelectObject(CPen* pPen);
    CBrush* SelectObject(CBrush* pBrush);
    CFont* SelectObject(CFont* pFont);
    CBitmap* SelectObject(CBitmap* pBitmap);
    CGdiObject* SelectObject(CGdiObject* pObject);
    CGdiObject* SelectStockObject(int nIndex);
    CPen* GetCurrentPen() const { return m_pPen; }
    CBrush* GetCurrentBrush() const { return m_pBrush; }
    CFont* GetCurrentFont() const { return m_pFont; }
    CBitmap* GetCurrentBitmap() const { return m_pBitmap; }

    int SetBkMode(int nBkMode);
    int GetBkMode() const { return m_bkMode; }
    COLORREF SetBkColor(COLORREF crColor);
    COLORREF GetBkColor() const { return m_bkColor; }
    COLORREF SetTextColor(COLORREF crColor);
    COLORREF GetTextColor() const { return m_textColor; }
    int SetPolyFillMode(int nPolyFillMode);
    int GetPolyFillMode() const { return m_polyFillMode; }
    int SetMapMode(int nMapMode);
    int GetMapMode() const { return m_mapMode; }
    POINT SetWindowOrg(int x, int y);
    POINT SetWindowOrg(POINT point) { return SetWindowOrg(point.x, point.y); }
    POINT GetWindowOrg() const { return m_org; }
    int GetDeviceCaps(int nIndex) const;

    BOOL Ellipse(int x1, int y1, int x2, int y2);
    BOOL Ellipse(LPCRECT lpRect) { return Ellipse(lpRect->left, lpRect->top, lpRect->right, lpRect->bottom); }
    BOOL Rectangle(int x1, int y1, int x2, int y2);
    BOOL Rectangle(LPCRECT lpRect) { return Rectangle(lpRect->left, lpRect->top, lpRect->right, lpRect->bottom); }
    // Corners rounded by an ellipse nWidth x nHeight.
    BOOL RoundRect(int x1, int y1, int x2, int y2, int nWidth, int nHeight);
    BOOL RoundRect(LPCRECT lpRect, POINT point)
    {
        return RoundRect(lpRect->left, lpRect->top, lpRect->right, lpRect->bottom, point.x, point.y);
    }
    BOOL Polygon(const POINT* lpPoints, int nCount);
    POINT MoveTo(int x, int y);
    POINT MoveTo(POINT point) { return MoveTo(point.x, point.y); }
    // Draws from the current position up to, not including, (x, y).
    BOOL LineTo(int x, int y);
    BOOL LineTo(POINT point) { return LineTo(point.x, point.y); }
    POINT GetCurrentPosition() const { return m_cur; }
    void FillRect(LPCRECT lpRect, CBrush* pBrush);
    void FillSolidRect(LPCRECT lpRect, COLORREF clr);
    BOOL FillRgn(CRgn* pRgn, CBrush* pBrush);

    // Text is UTF-8. TextOut places the top-left corner of the text cell at (x, y).
    BOOL TextOut(int x, int y, std::string_view text);
    BOOL TextOut(int x, int y, const char* lpszString, int nCount)
    {
        return TextOut(x, y, std::string_view(lpszString, static_cast<std::size_t>(nCount < 0 ? 0 : nCount)));
    }
    // Returns the height of the text drawn (or measured, with DT_CALCRECT).
    int DrawText(std::string_view text, LPRECT lpRect, UINT nFormat);
    CSize GetTextExtent(std::string_view text) const;
    BOOL GetTextExtentPoint32(const char* lpString, int c, SIZE* lpSize) const;

    BOOL BitBlt(int x, int y, int nWidth, int nHeight, CDC* pSrcDC, int xSrc, int ySrc, DWORD dwRop);
    // Reads one pixel in logical coordinates; CLR_INVALID (0xFFFFFFFF) outside or without pixels.
    COLORREF GetPixel(int x, int y) const;
    // Device pixels per logical pixel of what this context draws on (1 on an
    // ordinary screen, 2 at 200 %). Coordinates stay logical.
    qreal DevicePixelRatio() const;

protected:
    // Makes an active painter (not owned) this object's context.
    void AttachPainter(QPainter* painter);
    // The painter of this context, started on demand for a memory context; null
    // when there is nothing to draw on.
    QPainter* Painter();
    // Pixels behind a memory context, for block transfers out of it.
    const QImage* SourceImage() const;

private:
    enum class Kind { None, Memory, Painter };
    void ResetState();
    void EndPainter();
    void PrepareStroke(QPainter* p, bool forGaps);
    bool HasStyledOpaqueGaps() const;
    template <class Fn> void Stroked(QPainter* p, bool fill, Fn&& draw);

    Kind m_kind = Kind::None;
    QPainter* m_painter = nullptr;
    std::unique_ptr<QPainter> m_ownedPainter;
    std::unique_ptr<CBitmap> m_defaultBitmap;
    CBitmap* m_pBitmap = nullptr;
    std::shared_ptr<QImage> m_image; // kept alive while selected
    CPen* m_pPen = nullptr;
    std::shared_ptr<const PenData> m_pen;
    CBrush* m_pBrush = nullptr;
    std::shared_ptr<const BrushData> m_brush;
    CFont* m_pFont = nullptr;
    std::shared_ptr<const FontData> m_font;
    int m_bkMode = OPAQUE;
    COLORREF m_bkColor = RGB(255, 255, 255);
    COLORREF m_textColor = RGB(0, 0, 0);
    int m_polyFillMode = ALTERNATE;
    int m_mapMode = MM_TEXT;
    POINT m_org{};
    POINT m_cur{};

    friend class DrawRecorder;
    friend struct DrawCallState;
};

// The paint context of a widget, for the length of its paintEvent.
class CPaintDC : public CDC
{
public:
    explicit CPaintDC(QWidget* widget);
    ~CPaintDC() override;

private:
    std::unique_ptr<QPainter> m_widgetPainter;
};

// A context on a widget's client area. With Qt a widget is painted only
// inside its paintEvent; elsewhere this context has nothing to draw on
// (GetSafeHdc() is null).
class CClientDC : public CDC
{
public:
    explicit CClientDC(QWidget* widget);
    ~CClientDC() override;

private:
    std::unique_ptr<QPainter> m_widgetPainter;
};
