// What a dialog's WM_CTLCOLOR handler may change of a control's text: its
// background mode, font and colour. The dialog applies the answer to the
// control's own font and palette.
#pragma once

#include <QFont>
#include <optional>

#include "platform/posix/WinTypes.h"

class CCtlColor {
public:
    static constexpr int TRANSPARENT = 1;
    static constexpr int OPAQUE = 2;

    int SetBkMode(int mode)
    {
        const int previous = m_bkMode.value_or(OPAQUE);
        m_bkMode = mode;
        return previous;
    }
    void SelectObject(const QFont& font) { m_font = font; }
    COLORREF SetTextColor(COLORREF colour)
    {
        const COLORREF previous = m_textColour.value_or(RGB(0, 0, 0));
        m_textColour = colour;
        return previous;
    }

    const std::optional<int>& BkMode() const { return m_bkMode; }
    const std::optional<QFont>& Font() const { return m_font; }
    const std::optional<COLORREF>& TextColour() const { return m_textColour; }

private:
    std::optional<int> m_bkMode;
    std::optional<QFont> m_font;
    std::optional<COLORREF> m_textColour;
};
