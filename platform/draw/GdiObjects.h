// Drawing objects selected into a CDC: pens, brushes, fonts, bitmaps and
// regions. Each object holds its realised Qt form in shared data, so a context
// that still has an object selected keeps it alive even if the C++ object goes
// first (the original platform refuses to delete a selected object).
#pragma once

#include <QBrush>
#include <QFont>
#include <QImage>
#include <QPen>
#include <QPolygon>
#include <memory>

#include "platform/posix/WinTypes.h"

// Pen styles
constexpr int PS_SOLID = 0;
constexpr int PS_DASH = 1;
constexpr int PS_DOT = 2;
constexpr int PS_DASHDOT = 3;
constexpr int PS_DASHDOTDOT = 4;
constexpr int PS_NULL = 5;
constexpr int PS_INSIDEFRAME = 6;

// Font weights and character sets
constexpr int FW_DONTCARE = 0;
constexpr int FW_THIN = 100;
constexpr int FW_NORMAL = 400;
constexpr int FW_BOLD = 700;
constexpr BYTE ANSI_CHARSET = 0;
constexpr BYTE DEFAULT_CHARSET = 1;
constexpr BYTE GB2312_CHARSET = 134;
constexpr BYTE OUT_DEFAULT_PRECIS = 0;
constexpr BYTE CLIP_DEFAULT_PRECIS = 0;
constexpr BYTE CLIP_STROKE_PRECIS = 2;
constexpr BYTE DEFAULT_QUALITY = 0;
constexpr BYTE DRAFT_QUALITY = 1;
constexpr BYTE PROOF_QUALITY = 2;
constexpr BYTE NONANTIALIASED_QUALITY = 3;
constexpr BYTE ANTIALIASED_QUALITY = 4;
constexpr BYTE CLEARTYPE_QUALITY = 5;
constexpr BYTE DEFAULT_PITCH = 0;
constexpr BYTE FIXED_PITCH = 1;
constexpr BYTE VARIABLE_PITCH = 2;
constexpr BYTE FF_DONTCARE = 0x00;
constexpr BYTE FF_ROMAN = 0x10;
constexpr BYTE FF_SWISS = 0x20;
constexpr BYTE FF_MODERN = 0x30;
constexpr BYTE FF_SCRIPT = 0x40;
constexpr BYTE FF_DECORATIVE = 0x50;

// Polygon fill modes
constexpr int ALTERNATE = 1;
constexpr int WINDING = 2;

// Stock objects
constexpr int WHITE_BRUSH = 0;
constexpr int LTGRAY_BRUSH = 1;
constexpr int GRAY_BRUSH = 2;
constexpr int DKGRAY_BRUSH = 3;
constexpr int BLACK_BRUSH = 4;
constexpr int NULL_BRUSH = 5;
constexpr int HOLLOW_BRUSH = NULL_BRUSH;
constexpr int WHITE_PEN = 6;
constexpr int BLACK_PEN = 7;
constexpr int NULL_PEN = 8;
constexpr int SYSTEM_FONT = 13;
constexpr int DEFAULT_GUI_FONT = 17;

constexpr int LF_FACESIZE = 32;

struct LOGFONT {
    LONG lfHeight = 0;      // > 0: cell height; < 0: character height (cell minus internal leading); 0: default
    LONG lfWidth = 0;       // average character width; 0: natural
    LONG lfEscapement = 0;  // tenths of a degree, counterclockwise
    LONG lfOrientation = 0; // tenths of a degree
    LONG lfWeight = 0;      // 0 (don't care) or 1 to 1000
    BYTE lfItalic = 0;
    BYTE lfUnderline = 0;
    BYTE lfStrikeOut = 0;
    BYTE lfCharSet = 0;
    BYTE lfOutPrecision = 0;
    BYTE lfClipPrecision = 0;
    BYTE lfQuality = 0;
    BYTE lfPitchAndFamily = 0;
    char lfFaceName[LF_FACESIZE] = {}; // UTF-8
};
using LOGFONTA = LOGFONT;

class CGdiObject
{
public:
    enum class Kind { Pen, Brush, Font, Bitmap, Region };

    explicit CGdiObject(Kind kind) : m_kind(kind) {}
    CGdiObject(const CGdiObject&) = delete;
    CGdiObject& operator=(const CGdiObject&) = delete;
    virtual ~CGdiObject() = default;

    Kind GetKind() const { return m_kind; }
    // Non-null while the object has been created and not deleted.
    virtual const void* GetSafeHandle() const = 0;
    virtual BOOL DeleteObject() = 0;

private:
    Kind m_kind;
};

struct PenData {
    int style = PS_SOLID;
    int width = 1;
    COLORREF color = 0;
    QPen pen; // realised form, NoPen for PS_NULL
};

class CPen : public CGdiObject
{
public:
    CPen() : CGdiObject(Kind::Pen) {}
    CPen(int style, int width, COLORREF color) : CPen() { CreatePen(style, width, color); }
    // Width 0 (and 1) is a one-pixel line whatever the transform.
    BOOL CreatePen(int style, int width, COLORREF color);
    const void* GetSafeHandle() const override { return m_data.get(); }
    BOOL DeleteObject() override;
    const std::shared_ptr<const PenData>& Data() const { return m_data; }

private:
    std::shared_ptr<const PenData> m_data;
};

struct BrushData {
    bool hollow = false;
    COLORREF color = 0;
    QColor qcolor;
};

class CBrush : public CGdiObject
{
public:
    CBrush() : CGdiObject(Kind::Brush) {}
    explicit CBrush(COLORREF color) : CBrush() { CreateSolidBrush(color); }
    BOOL CreateSolidBrush(COLORREF color);
    BOOL CreateHollowBrush(); // what the NULL_BRUSH stock object holds
    const void* GetSafeHandle() const override { return m_data.get(); }
    BOOL DeleteObject() override;
    const std::shared_ptr<const BrushData>& Data() const { return m_data; }

private:
    std::shared_ptr<const BrushData> m_data;
};

struct FontData {
    LOGFONT lf;
    QFont font;     // pixel-sized so that the cell height below holds
    int cellHeight; // ascent + descent in pixels, what text extents report
    int ascent;     // cell top to baseline
};

class CFont : public CGdiObject
{
public:
    CFont() : CGdiObject(Kind::Font) {}
    BOOL CreateFont(int nHeight, int nWidth, int nEscapement, int nOrientation, int nWeight, BYTE bItalic,
                    BYTE bUnderline, BYTE cStrikeOut, BYTE nCharSet, BYTE nOutPrecision, BYTE nClipPrecision,
                    BYTE nQuality, BYTE nPitchAndFamily, const char* lpszFacename);
    BOOL CreateFontIndirect(const LOGFONT* lpLogFont);
    // nPointSize in tenths of a point, at 96 pixels per inch as the screen has.
    BOOL CreatePointFont(int nPointSize, const char* lpszFaceName, class CDC* pDC = nullptr);
    const void* GetSafeHandle() const override { return m_data.get(); }
    BOOL DeleteObject() override;
    int GetLogFont(LOGFONT* pLogFont) const;
    const std::shared_ptr<const FontData>& Data() const { return m_data; }

private:
    std::shared_ptr<const FontData> m_data;
};

class CBitmap : public CGdiObject
{
public:
    CBitmap() : CGdiObject(Kind::Bitmap) {}
    // A colour bitmap of the given size; its pixels start black.
    BOOL CreateCompatibleBitmap(class CDC* pDC, int nWidth, int nHeight);
    // The same with its pixels left as they come, for a bitmap its user
    // paints entirely before anything reads it (a paint's back buffer).
    BOOL CreateCompatibleBitmapUncleared(class CDC* pDC, int nWidth, int nHeight);
    BOOL CreateBitmap(int nWidth, int nHeight);
    const void* GetSafeHandle() const override { return m_image.get(); }
    BOOL DeleteObject() override;
    // The pixels; null before creation.
    const std::shared_ptr<QImage>& Image() const { return m_image; }

private:
    BOOL Create(class CDC* pDC, int nWidth, int nHeight, bool clear);
    std::shared_ptr<QImage> m_image;
    bool m_bReusable = false; // an uncleared back buffer: its memory may serve the next one
};

struct RgnData {
    QPolygon polygon;
    Qt::FillRule rule = Qt::OddEvenFill;
};

class CRgn : public CGdiObject
{
public:
    CRgn() : CGdiObject(Kind::Region) {}
    BOOL CreatePolygonRgn(const POINT* lpPoints, int nCount, int nMode);
    BOOL CreateRectRgn(int x1, int y1, int x2, int y2);
    const void* GetSafeHandle() const override { return m_data.get(); }
    BOOL DeleteObject() override;
    const std::shared_ptr<const RgnData>& Data() const { return m_data; }

private:
    std::shared_ptr<const RgnData> m_data;
};

// The platform's stock objects, alive for the whole process.
CGdiObject* GetStockObject(int nIndex);
CPen* StockPen(int nIndex);
CBrush* StockBrush(int nIndex);
CFont* StockFont(int nIndex);

QColor ToQColor(COLORREF c);
COLORREF FromQRgb(QRgb rgb);
