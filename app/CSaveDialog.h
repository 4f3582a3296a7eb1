// The record export dialog: choose a target with the save-as dialog and copy
// the record file there byte for byte. The record file is only read.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>

#include "controls/CCustomDrawBtn.h"
#include "platform/window/DialogEx.h"

// Size of the copy buffer.
constexpr std::size_t COPY_BLOCK_SIZE = 4096;

// A read or write that failed after both files were open; what() is the
// operator's message.
class CCopyError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class CSaveDialog : public CDialogEx {
public:
    CSaveDialog();
    ~CSaveDialog() override;

    void OnBnClickedBrowse();
    void OnBnClickedOk();
    void OnBnClickedCancel();

    // Copies source to target (UTF-8 paths) through a new file that replaces
    // the target only when complete and on disk. TRUE when the whole file was
    // copied; FALSE, after its message, when a file cannot be opened or the
    // target is no regular file. A failed read or write after that throws
    // CCopyError and leaves the target as it was.
    static BOOL CopyRecordFile(const char* szSourcePath, const char* szDestPath);

    const std::string& DestPath() const { return m_szDestPath; }
    const std::string& SourcePath() const { return m_szSourcePath; }

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;

    DECLARE_MESSAGE_MAP()

private:
    CCustomDrawBtn m_btnOK;
    CCustomDrawBtn m_btnCancel;
    CCustomDrawBtn m_btnBrowse;
    // Any length the file dialog gives: a path is never cut or refused.
    std::string m_szDestPath;
    std::string m_szSourcePath;
};
