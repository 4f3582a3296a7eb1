// Turning the received byte stream into frames, angles, turn counts and texts.
#pragma once

#include "measurement/MeasureState.h"

// What the owner shows of an accepted frame, called in this order after the
// frame's values and texts are final.
class IFrameSink {
public:
    virtual ~IFrameSink() = default;
    // Store m_dRelAngle1 / m_dRelAngle2 in the gauges and invalidate them.
    virtual void ShowGauges(const MeasureState& state) = 0;
    // Only while m_bRecording: build m_strRecordLine and append it to the record file.
    virtual void AppendRecord(MeasureState& state) = 0;
    // The six value labels.
    virtual void ShowLabels(const MeasureState& state) = 0;
};

// Accepts exactly ten bytes framed by 0x7E; then appends bytes 1-4 and 5-8.
bool SplitFrame(const FixedByteArray<protocol::FRAME_LENGTH>& frame,
                FixedByteArray<protocol::FRAME_WORD_LENGTH>& channel1,
                FixedByteArray<protocol::FRAME_WORD_LENGTH>& channel2);

DWORD GrayToBinary(DWORD gray);

// 0xFFFFFFFF >> (32 - width), for widths 10 to 32.
DWORD CodeMask(int bitWidth);

// One received byte b that came with port number p, while the selected port is
// nPortIndex + 1. Returns true when the byte completed an accepted frame.
bool HandleReceivedByte(MeasureState& state, int nPortIndex, BYTE b, UINT p, IFrameSink& sink);

// Decodes the frame held in m_arrChannel1/2 (steps 4 to 17 of the handler).
void DecodeFrame(MeasureState& state, IFrameSink& sink);
