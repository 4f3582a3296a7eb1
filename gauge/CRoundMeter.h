// The round dial gauge: a needle over a 0-360 scale, painted off screen over a
// cached background. Display only.
#pragma once

#include <QWidget>

#include "platform/WinTypes.h"

class CDC;
class CBitmap;

class CRoundMeter : public QWidget {
    Q_OBJECT
public:
    explicit CRoundMeter(QWidget* parent = nullptr);
    ~CRoundMeter() override;

    // Discards the cached background and invalidates; the next paint draws it
    // afresh at the current size.
    void ResetBackground();

    // The owner writes m_dValue and then invalidates (update()).
    RECT m_rcClient{};
    // m_dcBackground, m_bmpBackground, m_pPrevBitmap: see the implementation.
    POINT m_ptCenter{};
    double m_dDiameter = 0.0;
    COLORREF m_clrNeedle = RGB(0, 0, 0);
    COLORREF m_clrBack = RGB(33, 177, 138);
    double m_dMax = 360.0;
    double m_dMin = 0.0;
    double m_dMajorDivisions = 4.0;
    double m_dMinorDivisions = 10.0;
    char m_szTitle[100] = {};
    double m_dValue = 600.0;

protected:
    void paintEvent(QPaintEvent* event) override;
};
