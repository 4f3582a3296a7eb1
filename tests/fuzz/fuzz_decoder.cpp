// libFuzzer target for the byte handler: the first bytes choose the settings,
// the rest is the stream. Build with clang: cmake -DTELVAR_FUZZ=ON
// -DCMAKE_CXX_COMPILER=clang++, then run build/tests/fuzz/fuzz_decoder.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "measurement/RecordFile.h"
#include "measurement/SampleDecoder.h"

namespace {

struct CheckingSink : IFrameSink {
    void ShowGauges(const MeasureState& s) override
    {
        if (!(s.m_dRelAngle1 >= 0.0) || !(s.m_dRelAngle2 >= 0.0))
            std::abort();
    }
    void AppendRecord(MeasureState& s) override { BuildRecordLine(s); }
    void ShowLabels(const MeasureState&) override {}
};

void Check(bool ok)
{
    if (!ok)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 4)
        return 0;
    MeasureState s;
    s.m_nBitWidth1 = 10 + data[0] % 23;
    s.m_nBitWidth2 = 10 + data[1] % 23;
    s.m_nDataType1 = data[2] & 1;
    s.m_nDataType2 = (data[2] >> 1) & 1;
    s.m_bRecording = (data[2] & 4) != 0;
    s.m_dZeroAngle1 = data[3] / 255.0 * 360.0; // a zero point is an absolute angle
    CheckingSink sink;
    for (std::size_t i = 4; i < size; ++i) {
        // The top bit of every 16th byte picks another port number.
        const UINT port = (i % 16 == 0 && (data[i] & 0x80)) ? 2 : 1;
        HandleReceivedByte(s, 0, data[i], port, sink);
        Check(s.m_arrFrame.GetSize() <= 9);
        Check(s.m_arrChannel1.IsEmpty() && s.m_arrChannel2.IsEmpty());
        Check(!s.m_bCollecting || s.m_bSyncArmed);
        Check(s.m_dAngle1 >= 0.0 && s.m_dAngle1 <= 360.0);
        Check(s.m_dAngle2 >= 0.0 && s.m_dAngle2 <= 360.0);
    }
    return 0;
}
