#include "app/CSaveDialog.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>
#include <vector>

#include "app/DialogTemplates.h"
#include "app/resource.h"
#include "measurement/RecordFile.h"
#include "platform/posix/File.h"
#include "platform/core/MessageBox.h"
#include "platform/posix/ReplacementFile.h"

BEGIN_MESSAGE_MAP(CSaveDialog, CDialogEx)
ON_BN_CLICKED(IDC_SAVE_BROWSE, &CSaveDialog::OnBnClickedBrowse)
ON_BN_CLICKED(IDC_SAVE_OK, &CSaveDialog::OnBnClickedOk)
ON_BN_CLICKED(IDC_SAVE_CANCEL, &CSaveDialog::OnBnClickedCancel)
END_MESSAGE_MAP()

CSaveDialog::CSaveDialog() : CDialogEx(SaveDialogTemplate(), nullptr)
{
    m_szSourcePath = RECORD_FILE_PATH();
    m_szDestPath.clear();
}

CSaveDialog::~CSaveDialog() { DestroyWindow(); }

void CSaveDialog::DoDataExchange(CDataExchange* pDX)
{
    CDialogEx::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_SAVE_OK, m_btnOK);
    DDX_Control(pDX, IDC_SAVE_CANCEL, m_btnCancel);
    DDX_Control(pDX, IDC_SAVE_BROWSE, m_btnBrowse);
}

BOOL CSaveDialog::OnInitDialog()
{
    CDialogEx::OnInitDialog();
    m_btnOK.ApplyScheme(BLUE_BUTTON_SCHEME);
    m_btnOK.update();
    m_btnBrowse.ApplyScheme(BLUE_BUTTON_SCHEME);
    m_btnBrowse.update();
    m_btnCancel.ApplyScheme(RED_BUTTON_SCHEME);
    m_btnCancel.update();
    return TRUE;
}

void CSaveDialog::OnBnClickedBrowse()
{
    SaveFileRequest request;
    request.filter = "DAT文件(*.dat)|*.dat|TXT文件(*.txt)|*.txt|All Files|*.*|";
    request.overwritePrompt = true;
    const std::optional<std::string> path = MessagePresenter().GetSaveFileName(GetSafeHwnd(), request);
    if (!path)
        return;
    m_szDestPath = *path;
    SetDlgItemText(IDC_SAVE_PATH, m_szDestPath);
}

void CSaveDialog::OnBnClickedOk()
{
    if (m_szDestPath.empty()) {
        AfxMessageBox("路径不能为空");
        return;
    }
    try {
        if (CopyRecordFile(m_szSourcePath.c_str(), m_szDestPath.c_str()))
            AfxMessageBox("拷贝数据成功");
    } catch (const CCopyError& e) {
        // The copy is incomplete: say so and leave the dialog open for another try.
        AfxMessageBox(e.what(), MB_OK | MB_ICONERROR);
        return;
    }
    CDialogEx::OnOK();
}

void CSaveDialog::OnBnClickedCancel() { CDialogEx::OnCancel(); }

BOOL CSaveDialog::CopyRecordFile(const char* szSourcePath, const char* szDestPath)
{
    CFile source;
    if (!source.Open(szSourcePath, CFile::modeRead | CFile::shareDenyWrite)) {
        AfxMessageBox("打开源文件失败！");
        return FALSE;
    }
    // Never the record file itself, and only a regular file or a new one: a
    // FIFO, device or socket is refused before anything could block on it.
    CReplacementFile target;
    if (SameFile(szSourcePath, szDestPath) || !target.Open(szDestPath)) {
        AfxMessageBox("创建目标文件失败！");
        source.Close();
        return FALSE;
    }
    // The kernel copies without the round trip through our buffer where it
    // can; whatever it leaves (another filesystem, an error) goes block by
    // block, where a failure is seen as a read or a write failure.
    for (;;) {
        const ssize_t n = ::copy_file_range(source.Handle(), nullptr, target.Handle(), nullptr, 1 << 30, 0);
        if (n <= 0)
            break;
    }
    std::vector<BYTE> buffer(COPY_BLOCK_SIZE);
    for (;;) {
        const long n = source.Read(buffer.data(), buffer.size());
        if (n < 0)
            throw CCopyError(std::string("读取记录文件出错，复制未完成：") + std::strerror(errno));
        if (n > 0 && !target.Write(buffer.data(), static_cast<std::size_t>(n)))
            throw CCopyError(std::string("写入目标文件出错，复制未完成：") + std::strerror(errno));
        if (n == 0)
            break;
    }
    // Only a copy that is on the disk counts as done.
    if (!target.Commit())
        throw CCopyError(std::string("写入目标文件出错，复制未完成：") + std::strerror(errno));
    source.Close();
    return TRUE;
}
