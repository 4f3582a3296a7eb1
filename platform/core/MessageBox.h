// Modal message boxes and the save-as file dialog go through one presenter, so
// that tests can script the operator's answers. This part needs no window
// system: the window layer installs its Qt presenter as the default, and
// without one the texts go to stderr.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/posix/WinTypes.h"

// Buttons and icons, as the system's code names them.
constexpr UINT MB_OK = 0x00000000;
constexpr UINT MB_YESNO = 0x00000004;
constexpr UINT MB_ICONERROR = 0x00000010;
constexpr UINT MB_ICONQUESTION = 0x00000020;
constexpr UINT MB_ICONWARNING = 0x00000030;
constexpr UINT MB_ICONINFORMATION = 0x00000040;
constexpr UINT MB_TYPEMASK = 0x0000000F;
constexpr UINT MB_ICONMASK = 0x000000F0;

constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

class QWidget;

struct MessageBoxRequest {
    std::string text;     // UTF-8
    std::string caption;  // UTF-8
    UINT type = MB_OK;    // buttons | icon
    bool blocking = true; // false: shown without holding up the caller
};

struct SaveFileRequest {
    std::string filter;   // "Name|pattern|Name|pattern|" as the system writes it
    bool overwritePrompt = true;
};

class IMessagePresenter {
public:
    virtual ~IMessagePresenter() = default;
    // Returns IDOK, IDCANCEL, IDYES or IDNO. Always called on the UI thread.
    virtual int ShowMessage(QWidget* owner, const MessageBoxRequest& request) = 0;
    // Returns the chosen full path (UTF-8), or nothing when cancelled.
    virtual std::optional<std::string> GetSaveFileName(QWidget* owner, const SaveFileRequest& request) = 0;
};

// The presenter in force: the installed one, else the default.
IMessagePresenter& MessagePresenter();
// Installs a presenter (not owned); nullptr restores the default.
void SetMessagePresenter(IMessagePresenter* presenter);
// The presenter used when none is installed (not owned); nullptr: stderr,
// answering OK, No and cancelled.
void SetDefaultMessagePresenter(IMessagePresenter* presenter);

// Title of the application, the caption of AfxMessageBox.
std::string AfxGetAppTitle();
void AfxSetAppTitle(const std::string& title);

// MessageBoxA: owner may be null. Must run on the UI thread.
int MessageBoxA(QWidget* owner, const std::string& text, const std::string& caption, UINT type);
// AfxMessageBox: the application's title as caption.
int AfxMessageBox(const std::string& text, UINT type = MB_OK);

// A presenter for tests: records every request and answers from a script.
class ScriptedPresenter : public IMessagePresenter {
public:
    struct Shown {
        std::string text;
        std::string caption;
        UINT type;
        bool blocking;
    };
    std::vector<Shown> shown;
    std::vector<int> answers;                       // consumed in order; IDOK/IDYES... default IDOK (IDNO for yes/no)
    std::vector<std::optional<std::string>> saves;  // consumed in order; default: cancelled
    std::vector<SaveFileRequest> saveRequests;

    int ShowMessage(QWidget* owner, const MessageBoxRequest& request) override;
    std::optional<std::string> GetSaveFileName(QWidget* owner, const SaveFileRequest& request) override;
};
