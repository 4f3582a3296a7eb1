// Everything the decoding of frames knows: settings, decoded values and their
// texts, and the frame collector. Owned by the main dialog; touched only on the
// user-interface thread.
#pragma once

#include <cstdint>
#include <string>

#include "measurement/ByteArray.h"
#include "measurement/Protocol.h"
#include "platform/posix/WinTypes.h"

struct MeasureState {
    FixedByteArray<protocol::FRAME_LENGTH> m_arrFrame;
    FixedByteArray<protocol::FRAME_WORD_LENGTH> m_arrChannel1;
    FixedByteArray<protocol::FRAME_WORD_LENGTH> m_arrChannel2;

    DWORD m_dwCode1 = 0;
    DWORD m_dwCode2 = 0;
    double m_dAngle1 = 0.0;
    double m_dAngle2 = 0.0;
    double m_dRelAngle1 = 0.0;
    double m_dRelAngle2 = 0.0;
    double m_dTotalAngle1 = 0.0;
    double m_dTotalAngle2 = 0.0;
    double m_dPrevAngle1 = 0.0;
    double m_dPrevAngle2 = 0.0;
    double m_dZeroAngle1 = 0.0;
    double m_dZeroAngle2 = 0.0;
    std::int32_t m_nTurns1 = 0;
    std::int32_t m_nTurns2 = 0;
    std::int32_t m_nDataType1 = 0; // 1 = Gray code, anything else = plain binary
    std::int32_t m_nDataType2 = 0;
    std::int32_t m_nBitWidth1 = 26;
    std::int32_t m_nBitWidth2 = 26;

    std::string m_strRelAngle1;
    std::string m_strRelAngle2;
    std::string m_strAngle1;
    std::string m_strAngle2;
    std::string m_strTotalAngle1;
    std::string m_strTotalAngle2;
    std::string m_strCode1;
    std::string m_strCode2;
    std::string m_strRecordLine;
    std::string m_strOtherBits1;
    std::string m_strOtherBits2;

    // Set from the start: previous angles of 0 are no reading, and comparing the
    // first frame with them would count a turn for an encoder resting above 350.
    bool m_bNoPrevSample = true;
    bool m_bSyncArmed = false;
    bool m_bCollecting = false;
    bool m_bRecording = false;

    // Line quality since the state was made, for display only: no decoded
    // value or text depends on them.
    std::uint64_t m_nAcceptedFrames = 0;
    std::uint64_t m_nRefusedFrames = 0; // ten bytes collected, delimiters wrong
    std::uint64_t m_nResyncs = 0;       // frame boundary found again after a refused frame
    std::uint64_t m_nRuns = 0;          // acquisition runs begun (recording set)
    bool m_bEverSynchronised = false;   // the first boundary found is no resynchronisation
};
