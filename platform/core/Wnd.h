// A window that takes messages on its user-interface thread. The serial port
// delivers its notifications to one of these; dialogs dispatch them through
// their message maps.
#pragma once

#include "platform/posix/WinTypes.h"

class QWidget;

class CWnd {
public:
    CWnd() = default;
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;
    virtual ~CWnd() = default;

    // The Qt window behind this object; null before it exists.
    virtual QWidget* GetSafeHwnd() const { return m_hWnd; }

    // Handles one message on the window's own thread. Unhandled messages go to
    // DefWindowProc.
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
    {
        return DefWindowProc(message, wParam, lParam);
    }
    virtual LRESULT DefWindowProc(UINT, WPARAM, LPARAM) { return 0; }

protected:
    QWidget* m_hWnd = nullptr;
};
