// The record file: a GBK header line, then one tab-separated line per frame,
// each written with one seek and one write so the file is complete up to its
// last line even if the tool dies.
#pragma once

#include <cstdint>
#include <string>

#include "measurement/MeasureState.h"
#include "platform/posix/File.h"

// $HOME/Telvar-Record.dat, or Telvar-Record.dat in the working directory
// when HOME is unset.
std::string RECORD_FILE_PATH();

// The header line in code page 936, CR LF included (94 bytes).
const std::string& RecordHeaderBytes();

// Sets state.m_strRecordLine to the six fields of the last frame, CR LF ended.
void BuildRecordLine(MeasureState& state);

class CRecordFile {
public:
    // Creates or truncates the file (after taking its exclusive lock) and
    // writes the header. Returns false when it cannot be created.
    bool Create(const std::string& path);
    // Builds the frame's line and appends it. False when the write failed;
    // the line is then counted as lost.
    bool Append(MeasureState& state);
    // Flushes the file to disk (fsync), then closes it. False with errno set
    // when the flush failed: the last lines may then not be on the disk.
    bool Close();
    bool IsOpen() const { return m_file.IsOpen(); }

    // Lines that could not be written since the last Create.
    std::uint64_t LostLines() const { return m_nLostLines; }
    // errno of the first failed write since the last Create (0 if none).
    int FirstError() const { return m_nFirstError; }

private:
    CFile m_file;
    std::uint64_t m_nLostLines = 0;
    int m_nFirstError = 0;
};
