// The application object: one global instance, built before main runs and
// touching nothing of Qt until Run. Run makes the QApplication and calls
// InitInstance, which runs the program's dialog.
#pragma once

#include <string>

#include "platform/posix/WinTypes.h"

class CWnd;

class CWinApp {
public:
    // name: the application's title; null takes the executable's name.
    explicit CWinApp(const char* name = nullptr);
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;
    virtual ~CWinApp();

    // Makes the QApplication (when none exists yet), then InitInstance. Returns
    // the process exit code.
    int Run(int argc, char** argv);

    virtual BOOL InitInstance();
    virtual int ExitInstance();

    CWnd* m_pMainWnd = nullptr;
    std::string m_strAppName;
};

// The application object; null before it is built.
CWinApp* AfxGetApp();
// The application's main window (m_pMainWnd); null when there is none.
CWnd* AfxGetMainWnd();
