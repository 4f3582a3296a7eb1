#include "measurement/SampleDecoder.h"

#include "measurement/TextFormat.h"

bool SplitFrame(const FixedByteArray<protocol::FRAME_LENGTH>& frame,
                FixedByteArray<protocol::FRAME_WORD_LENGTH>& channel1,
                FixedByteArray<protocol::FRAME_WORD_LENGTH>& channel2)
{
    if (frame.GetSize() != protocol::FRAME_LENGTH || frame[0] != protocol::FRAME_DELIMITER
        || frame[protocol::FRAME_LENGTH - 1] != protocol::FRAME_DELIMITER)
        return false;
    for (std::size_t i = 0; i < protocol::FRAME_WORD_LENGTH; ++i) {
        channel1.Add(frame[protocol::FRAME_CH1_OFFSET + i]);
        channel2.Add(frame[protocol::FRAME_CH2_OFFSET + i]);
    }
    return true;
}

DWORD GrayToBinary(DWORD gray)
{
    DWORD result = gray;
    for (DWORD s = gray >> 1; s != 0; s >>= 1)
        result ^= s;
    return result;
}

DWORD CodeMask(int bitWidth)
{
    return DWORD{0xFFFFFFFFu} >> (32 - bitWidth);
}

namespace {

DWORD BigEndianWord(const FixedByteArray<protocol::FRAME_WORD_LENGTH>& bytes)
{
    return (DWORD{bytes[0]} << 24) | (DWORD{bytes[1]} << 16) | (DWORD{bytes[2]} << 8) | DWORD{bytes[3]};
}

// Steps 6 to 8 for one channel; returns the unwrapped relative angle.
double ChannelAngle(DWORD code, int bitWidth, double zero, double& angle, DWORD& masked)
{
    const DWORD mask = CodeMask(bitWidth);
    masked = code & mask;
    angle = static_cast<double>(masked) / static_cast<double>(mask) * 360.0;
    return angle - zero;
}

void CountTurn(double angle, double previous, std::int32_t& turns)
{
    const double d = angle - previous;
    if (d > 350.0)
        --turns;
    else if (d < -350.0)
        ++turns;
}

} // namespace

void DecodeFrame(MeasureState& s, IFrameSink& sink)
{
    s.m_dwCode1 = BigEndianWord(s.m_arrChannel1);
    s.m_dwCode2 = BigEndianWord(s.m_arrChannel2);
    if (s.m_nDataType1 == 1)
        s.m_dwCode1 = GrayToBinary(s.m_dwCode1);
    if (s.m_nDataType2 == 1)
        s.m_dwCode2 = GrayToBinary(s.m_dwCode2);

    DWORD masked1 = 0;
    DWORD masked2 = 0;
    double rel1 = ChannelAngle(s.m_dwCode1, s.m_nBitWidth1, s.m_dZeroAngle1, s.m_dAngle1, masked1);
    double rel2 = ChannelAngle(s.m_dwCode2, s.m_nBitWidth2, s.m_dZeroAngle2, s.m_dAngle2, masked2);

    if (!s.m_bNoPrevSample) {
        CountTurn(s.m_dAngle2, s.m_dPrevAngle2, s.m_nTurns2);
        CountTurn(s.m_dAngle1, s.m_dPrevAngle1, s.m_nTurns1);
    }
    s.m_dTotalAngle1 = s.m_nTurns1 * 360.0 + rel1;
    s.m_dTotalAngle2 = s.m_nTurns2 * 360.0 + rel2;

    if (rel1 < 0)
        rel1 += 360.0;
    if (rel2 < 0)
        rel2 += 360.0;
    s.m_dRelAngle1 = rel1;
    s.m_dRelAngle2 = rel2;

    sink.ShowGauges(s);

    FormatFixed4(s.m_dAngle1, s.m_strAngle1);
    FormatFixed4(s.m_dAngle2, s.m_strAngle2);
    FormatFixed4(s.m_dRelAngle1, s.m_strRelAngle1);
    FormatFixed4(s.m_dRelAngle2, s.m_strRelAngle2);
    FormatFixed4(s.m_dTotalAngle2, s.m_strTotalAngle2);
    FormatFixed4(s.m_dTotalAngle1, s.m_strTotalAngle1);
    FormatUnsigned(masked1, s.m_strCode1);
    FormatUnsigned(masked2, s.m_strCode2);

    s.m_arrFrame.RemoveAll();
    s.m_arrChannel1.RemoveAll();
    s.m_arrChannel2.RemoveAll();

    if (s.m_bRecording)
        sink.AppendRecord(s);

    sink.ShowLabels(s);

    s.m_dPrevAngle1 = s.m_dAngle1;
    s.m_dPrevAngle2 = s.m_dAngle2;
    s.m_bNoPrevSample = false;
}

bool HandleReceivedByte(MeasureState& s, int nPortIndex, BYTE b, UINT p, IFrameSink& sink)
{
    if (p != static_cast<UINT>(nPortIndex + 1))
        return false;

    bool accepted = false;
    if (s.m_bCollecting) {
        s.m_arrFrame.Add(b);
        if (s.m_arrFrame.GetSize() == protocol::FRAME_LENGTH) {
            if (SplitFrame(s.m_arrFrame, s.m_arrChannel1, s.m_arrChannel2)) {
                // Counted first, so that the sink sees this frame in the count.
                ++s.m_nAcceptedFrames;
                DecodeFrame(s, sink);
                accepted = true;
            } else {
                ++s.m_nRefusedFrames;
                s.m_arrFrame.RemoveAll();
                s.m_arrChannel1.RemoveAll();
                s.m_arrChannel2.RemoveAll();
                s.m_bSyncArmed = false;
                s.m_bCollecting = false;
                s.m_bNoPrevSample = true;
            }
        }
    }

    if (b == protocol::FRAME_DELIMITER) {
        if (!s.m_bSyncArmed && !s.m_bCollecting)
            s.m_bSyncArmed = true;
        else if (s.m_bSyncArmed && !s.m_bCollecting) {
            s.m_bCollecting = true;
            if (s.m_bEverSynchronised)
                ++s.m_nResyncs;
            s.m_bEverSynchronised = true;
        }
    }
    return accepted;
}
