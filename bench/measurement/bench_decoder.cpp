// The decoding core on an aligned stream of random frames, texts included.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "measurement/RecordFile.h"
#include "measurement/SampleDecoder.h"

namespace {

struct NullSink : IFrameSink {
    void ShowGauges(const MeasureState& s) override { benchmark::DoNotOptimize(s.m_dRelAngle1); }
    void AppendRecord(MeasureState& s) override { BuildRecordLine(s); }
    void ShowLabels(const MeasureState& s) override { benchmark::DoNotOptimize(s.m_strCode2.data()); }
};

std::vector<BYTE> Stream(int frames)
{
    std::mt19937 rng(1);
    std::vector<BYTE> bytes;
    bytes.reserve(static_cast<std::size_t>(frames) * 10);
    for (int f = 0; f < frames; ++f) {
        const DWORD w1 = rng();
        const DWORD w2 = rng();
        bytes.push_back(0x7E);
        for (int k = 3; k >= 0; --k)
            bytes.push_back(static_cast<BYTE>(w1 >> (8 * k)));
        for (int k = 3; k >= 0; --k)
            bytes.push_back(static_cast<BYTE>(w2 >> (8 * k)));
        bytes.push_back(0x7E);
    }
    return bytes;
}

void Decode(benchmark::State& state, bool recording, int dataType)
{
    const std::vector<BYTE> stream = Stream(100000);
    MeasureState s;
    s.m_nBitWidth1 = 25;
    s.m_nBitWidth2 = 32;
    s.m_nDataType1 = dataType;
    s.m_bRecording = recording;
    NullSink sink;
    long frames = 0;
    for (auto _ : state) {
        for (BYTE b : stream)
            frames += HandleReceivedByte(s, 0, b, 1, sink) ? 1 : 0;
    }
    state.counters["frames/s"] = benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(stream.size()));
}

void BM_DecodeStream(benchmark::State& state) { Decode(state, false, 0); }
void BM_DecodeStreamGray(benchmark::State& state) { Decode(state, false, 1); }
void BM_DecodeStreamWithRecordLine(benchmark::State& state) { Decode(state, true, 0); }

} // namespace

BENCHMARK(BM_DecodeStream)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeStreamGray)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeStreamWithRecordLine)->Unit(benchmark::kMillisecond);
