#include "app/CTelvarApp.h"

#include <memory>

#include "app/CTelvarDlg.h"
#include "platform/draw/Fonts.h"

CTelvarApp::CTelvarApp() : CWinApp(nullptr) {}

CTelvarApp::~CTelvarApp() = default;

BOOL CTelvarApp::InitInstance()
{
    CWinApp::InitInstance();
    // The faces the dialogs ask for by their original names.
    InstallFontSubstitutions();

    auto dlg = std::make_unique<CTelvarDlg>();
    m_pMainWnd = dlg.get();
    dlg->DoModal();
    // Destroying the dialog stops the serial worker and closes the record file.
    m_pMainWnd = nullptr;
    dlg.reset();
    return FALSE;
}
