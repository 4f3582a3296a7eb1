#include "platform/window/WinApp.h"

#include <QApplication>
#include <QFileInfo>
#include <memory>

#include "platform/window/DialogLook.h"
#include "platform/core/MessageBox.h"
#include "platform/window/QtMessagePresenter.h"

namespace {
CWinApp* g_app = nullptr;
}

CWinApp::CWinApp(const char* name)
{
    if (name)
        m_strAppName = name;
    g_app = this;
}

CWinApp::~CWinApp()
{
    if (g_app == this)
        g_app = nullptr;
}

int CWinApp::Run(int argc, char** argv)
{
    std::unique_ptr<QApplication> owned;
    if (QApplication::instance() == nullptr)
        owned = std::make_unique<QApplication>(argc, argv);
    // Qt's own dialogs (the save-as dialog) in the dialogs' light colours too.
    QApplication::setPalette(DialogPalette());
    if (m_strAppName.empty() && argc > 0 && argv[0])
        m_strAppName = QFileInfo(QString::fromLocal8Bit(argv[0])).completeBaseName().toStdString();
    if (!m_strAppName.empty())
        AfxSetAppTitle(m_strAppName);
    UseQtMessagePresenter();
    InitInstance();
    return ExitInstance();
}

BOOL CWinApp::InitInstance() { return FALSE; }

int CWinApp::ExitInstance() { return 0; }

CWinApp* AfxGetApp() { return g_app; }

CWnd* AfxGetMainWnd() { return g_app ? g_app->m_pMainWnd : nullptr; }
