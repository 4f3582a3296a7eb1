// The flat push button of both dialogs: solid body, bold caption, hover
// colour, grey when disabled, dotted focus outline. Clicks stay ordinary
// button clicks.
#pragma once

#include <QPushButton>
#include <string>

#include "platform/WinTypes.h"

constexpr int HOVER_TIMER_ID = 1;

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

class CCustomDrawBtn : public QPushButton {
    Q_OBJECT
public:
    explicit CCustomDrawBtn(QWidget* parent = nullptr);
    ~CCustomDrawBtn() override;

    // Called when the object takes over its dialog control.
    virtual void PreSubclassWindow();

    // Writes all seven members of the scheme (m_clrCurrent included) and invalidates.
    void ApplyScheme(const ButtonScheme& scheme);

    RECT m_rcClient{};
    COLORREF m_clrNormal = RGB(51, 126, 251);
    COLORREF m_clrHover = RGB(17, 94, 188);
    COLORREF m_clrText = RGB(255, 255, 255);
    COLORREF m_clrBorder = RGB(51, 126, 251);
    COLORREF m_clrCurrent = RGB(51, 126, 251);
    int m_nFontHeight = 14;
    int m_nRoundSize = 0;
    BOOL m_bHover = FALSE;
    std::string m_strText;
};
