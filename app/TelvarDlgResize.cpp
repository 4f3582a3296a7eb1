// Interim size handling of the main dialog: it records the client size and
// moves nothing yet. Proportional resizing replaces this file.
#include "app/CTelvarDlg.h"

void CTelvarDlg::OnSize(UINT nType, int cx, int cy)
{
    CDialogEx::OnSize(nType, cx, cy);
    if (nType == SIZE_MINIMIZED)
        return;
    m_nLastWidth = cx;
    m_nLastHeight = cy;
}

void CTelvarDlg::ResizeChildren() {}

void CTelvarDlg::OnSizing(UINT fwSide, RECT* pRect) { CDialogEx::OnSizing(fwSide, pRect); }
