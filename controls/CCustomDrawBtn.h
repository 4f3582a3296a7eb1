// The flat push button of both dialogs: solid body, bold caption, hover
// colour, grey when disabled, dotted focus outline. Clicks stay ordinary
// button clicks.
#pragma once

#include <QBasicTimer>
#include <QPoint>
#include <QPushButton>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/draw/OwnerDraw.h"
#include "platform/posix/WinTypes.h"

class CDC;

constexpr int HOVER_TIMER_ID = 1;
constexpr UINT HOVER_TIMER_PERIOD_MS = 10;

// A colour scheme that an owner writes into a button before invalidating it.
struct ButtonScheme {
    COLORREF normal;
    COLORREF hover;
    COLORREF border;
    COLORREF text;
    int fontHeight;
    int roundSize;
};
extern const ButtonScheme BLUE_BUTTON_SCHEME;
extern const ButtonScheme RED_BUTTON_SCHEME;

class CCustomDrawBtn : public QPushButton
{
    Q_OBJECT
public:
    explicit CCustomDrawBtn(QWidget* parent = nullptr);
    ~CCustomDrawBtn() override;

    // Called when the object takes over its dialog control: from then on the
    // button draws itself (DrawItem).
    virtual void PreSubclassWindow();

    // Writes all seven members of the scheme (m_clrCurrent included) and invalidates.
    void ApplyScheme(const ButtonScheme& scheme);

    // Draws the button; only the item state of the request is used.
    virtual void DrawItem(LPDRAWITEMSTRUCT lpDrawItemStruct);

    // Where the pointer is, in screen coordinates. Tests install their own
    // source; an empty function restores the real cursor position.
    static void SetCursorPosSource(std::function<QPoint()> source);

    RECT m_rcClient{};
    COLORREF m_clrNormal = RGB(51, 126, 251);
    COLORREF m_clrHover = RGB(17, 94, 188);
    COLORREF m_clrText = RGB(255, 255, 255);
    COLORREF m_clrBorder = RGB(51, 126, 251);
    COLORREF m_clrCurrent = RGB(51, 126, 251);
    int m_nFontHeight = 14;
    int m_nRoundSize = 0;
    BOOL m_bHover = FALSE;
    std::string m_strText; // UTF-8

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

    virtual void OnMouseMove(UINT nFlags, POINT point);
    virtual void OnTimer(std::uintptr_t nIDEvent);
    // The button's window timers (only the hover timer exists).
    virtual std::uintptr_t SetTimer(std::uintptr_t nIDEvent, UINT nElapse);
    virtual BOOL KillTimer(std::uintptr_t nIDEvent);

private:
    void DrawButton(UINT nState, CDC* pDC, int nRoundSize, COLORREF clrBody);

    bool m_bOwnerDraw = false;
    QBasicTimer m_hoverTimer;
};
