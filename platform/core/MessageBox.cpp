#include "platform/core/MessageBox.h"

#include <cstdio>

namespace {

// Without a window layer nobody can answer: the text goes to stderr and the
// answer is the one that changes nothing.
class StderrPresenter : public IMessagePresenter {
public:
    int ShowMessage(QWidget*, const MessageBoxRequest& request) override
    {
        std::fprintf(stderr, "%s: %s\n", request.caption.c_str(), request.text.c_str());
        return (request.type & MB_TYPEMASK) == MB_YESNO ? IDNO : IDOK;
    }
    std::optional<std::string> GetSaveFileName(QWidget*, const SaveFileRequest&) override { return std::nullopt; }
};

StderrPresenter g_stderrPresenter;
IMessagePresenter* g_default = nullptr;
IMessagePresenter* g_presenter = nullptr;
std::string g_appTitle = "Telvar";

} // namespace

IMessagePresenter& MessagePresenter()
{
    if (g_presenter)
        return *g_presenter;
    return g_default ? *g_default : g_stderrPresenter;
}
void SetMessagePresenter(IMessagePresenter* presenter) { g_presenter = presenter; }
void SetDefaultMessagePresenter(IMessagePresenter* presenter) { g_default = presenter; }

std::string AfxGetAppTitle() { return g_appTitle; }
void AfxSetAppTitle(const std::string& title) { g_appTitle = title; }

int MessageBoxA(QWidget* owner, const std::string& text, const std::string& caption, UINT type)
{
    return MessagePresenter().ShowMessage(owner, MessageBoxRequest{text, caption, type, true});
}

int AfxMessageBox(const std::string& text, UINT type)
{
    return MessageBoxA(nullptr, text, AfxGetAppTitle(), type);
}

int ScriptedPresenter::ShowMessage(QWidget*, const MessageBoxRequest& request)
{
    shown.push_back({request.text, request.caption, request.type, request.blocking});
    if (!answers.empty()) {
        const int a = answers.front();
        answers.erase(answers.begin());
        return a;
    }
    return (request.type & MB_TYPEMASK) == MB_YESNO ? IDNO : IDOK;
}

std::optional<std::string> ScriptedPresenter::GetSaveFileName(QWidget*, const SaveFileRequest& request)
{
    saveRequests.push_back(request);
    if (saves.empty())
        return std::nullopt;
    auto s = saves.front();
    saves.erase(saves.begin());
    return s;
}
