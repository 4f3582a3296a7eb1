// The application object: runs the main dialog once and ends.
#pragma once

#include "platform/window/WinApp.h"

class CTelvarApp : public CWinApp {
public:
    CTelvarApp();
    ~CTelvarApp() override;

    BOOL InitInstance() override;
};

extern CTelvarApp theApp;
