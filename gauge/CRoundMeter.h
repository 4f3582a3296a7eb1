// The round dial gauge: a needle over a 0-360 scale, painted off screen over a
// cached background. Display only.
#pragma once

#include <QWidget>

#include "platform/draw/CDC.h"
#include "platform/posix/WinTypes.h"

class CRoundMeter : public QWidget
{
    Q_OBJECT
public:
    explicit CRoundMeter(QWidget* parent = nullptr);
    ~CRoundMeter() override;

    // Discards the cached background and invalidates; the next paint draws it
    // afresh at the current size.
    void ResetBackground();

    // The owner writes m_dValue and then invalidates (update()).
    RECT m_rcClient{};
    CDC m_dcBackground;               // memory context holding the cached background
    CBitmap m_bmpBackground;          // client-sized bitmap selected into m_dcBackground
    CBitmap* m_pPrevBitmap = nullptr; // what m_dcBackground held before; selected back before deletion
    POINT m_ptCenter{};
    double m_dDiameter = 0.0;
    COLORREF m_clrNeedle = RGB(0, 0, 0);
    COLORREF m_clrBack = RGB(33, 177, 138);
    double m_dMax = 360.0;
    double m_dMin = 0.0;
    double m_dMajorDivisions = 4.0;
    double m_dMinorDivisions = 10.0;
    char m_szTitle[100] = {}; // UTF-8
    double m_dValue = 600.0;

protected:
    void paintEvent(QPaintEvent* event) override;

    void OnPaint();
    void DrawBackground(CDC* pDC, const RECT& rect);
    void DrawNeedle(CDC* pDC);
    void DrawReadout(CDC* pDC);

private:
    void ReleaseBackground();
};
