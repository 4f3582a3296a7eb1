#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/file.h>
#include <sys/resource.h>
#include <unistd.h>

#include "DecoderFixture.h"
#include "measurement/RecordFile.h"

namespace {

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

class RecordFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/telvar-record-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        path = dir + "/Telvar-Record.dat";
    }
    void TearDown() override
    {
        unlink(path.c_str());
        rmdir(dir.c_str());
    }
    std::string dir;
    std::string path;
};

// A sink that appends through a real record file.
struct FileSink : RecordingSink {
    CRecordFile* file;
    explicit FileSink(CRecordFile* f) : file(f) {}
    void AppendRecord(MeasureState& s) override { file->Append(s); }
};

const char* const HEADER_HEX =
    "cda8b5c031b9e2d5a42020cda8b5c031b9e2d5a428d4adc2eb292020cda8b5c031b9e2d5a428baacc8a6cafd292020cda8b5c0"
    "32b9e2d5a42020cda8b5c032b9e2d5a428d4adc2eb292020cda8b5c032b9e2d5a428baacc8a6cafd290d0a";

std::string Hex(const std::string& bytes)
{
    static const char* d = "0123456789abcdef";
    std::string h;
    for (unsigned char c : bytes) {
        h += d[c >> 4];
        h += d[c & 15];
    }
    return h;
}

TEST(RecordHeader, IsTheGbkHeader)
{
    EXPECT_EQ(RecordHeaderBytes().size(), 94u);
    EXPECT_EQ(Hex(RecordHeaderBytes()), HEADER_HEX);
}

TEST(RecordPath, FollowsHome)
{
    const char* old = std::getenv("HOME");
    const std::string saved = old ? old : "";
    setenv("HOME", "/home/op", 1);
    EXPECT_EQ(RECORD_FILE_PATH(), "/home/op/Telvar-Record.dat");
    setenv("HOME", "/home/op/", 1);
    EXPECT_EQ(RECORD_FILE_PATH(), "/home/op/Telvar-Record.dat");
    unsetenv("HOME");
    EXPECT_EQ(RECORD_FILE_PATH(), "Telvar-Record.dat");
    if (old)
        setenv("HOME", saved.c_str(), 1);
}

TEST(RecordLine, ExampleOfFiftyOneBytes)
{
    MeasureState s;
    s.m_strAngle1 = "359.9999";
    s.m_strCode1 = "4294967295";
    s.m_strTotalAngle1 = "-359.9999";
    s.m_strAngle2 = "12.3456";
    s.m_strCode2 = "123";
    s.m_strTotalAngle2 = "12.3456";
    BuildRecordLine(s);
    EXPECT_EQ(s.m_strRecordLine, "359.9999\t4294967295\t-359.9999\t12.3456\t123\t12.3456\r\n");
    EXPECT_EQ(s.m_strRecordLine.size(), 51u);
}

TEST_F(RecordFileTest, HeaderThenOneLinePerFrameAndTruncatedOnNextRun)
{
    CRecordFile file;
    ASSERT_TRUE(file.Create(path));
    EXPECT_EQ(ReadAll(path), RecordHeaderBytes());

    MeasureState s;
    FileSink sink(&file);
    s.m_bRecording = true;
    s.m_nBitWidth1 = 13;
    Synchronise(s, sink);
    Feed(s, sink, Frame(0x00001000, 0x00800000));
    s.m_nBitWidth1 = 32;
    s.m_nTurns1 = -1;
    Feed(s, sink, Frame(0xFFFFFFFF, 0x00800000));
    file.Close();
    EXPECT_EQ(ReadAll(path), RecordHeaderBytes() + "180.0220\t4096\t180.0220\t45.0000\t8388608\t45.0000\r\n"
                                 + "360.0000\t4294967295\t0.0000\t45.0000\t8388608\t45.0000\r\n");
    EXPECT_EQ(file.LostLines(), 0u);

    ASSERT_TRUE(file.Create(path));
    file.Close();
    EXPECT_EQ(ReadAll(path), RecordHeaderBytes());
}

TEST_F(RecordFileTest, FileHeldByAnotherOpenerIsNeitherCreatedNorEmptied)
{
    {
        std::ofstream out(path, std::ios::binary);
        out << "precious";
    }
    const int fd = open(path.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(flock(fd, LOCK_SH), 0);
    CRecordFile file;
    EXPECT_FALSE(file.Create(path));
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(ReadAll(path), "precious");
    close(fd);
    EXPECT_TRUE(file.Create(path));
}

TEST_F(RecordFileTest, WhileOpenNoOtherOpenerMayLock)
{
    CRecordFile file;
    ASSERT_TRUE(file.Create(path));
    CRecordFile second;
    EXPECT_FALSE(second.Create(path));
    EXPECT_EQ(ReadAll(path), RecordHeaderBytes());
}

TEST_F(RecordFileTest, UnwritablePlaceFails)
{
    CRecordFile file;
    EXPECT_FALSE(file.Create(dir + "/missing/dir/Telvar-Record.dat"));
}

TEST_F(RecordFileTest, SizeLimitLosesLinesButKeepsTheFileWhole)
{
    CRecordFile file;
    ASSERT_TRUE(file.Create(path));
    MeasureState s;
    FileSink sink(&file);
    s.m_bRecording = true;
    Synchronise(s, sink);

    struct rlimit old {};
    getrlimit(RLIMIT_FSIZE, &old);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit lim = old;
    lim.rlim_cur = 94 + 3 * 38 + 20; // room for three 38-byte lines and part of a fourth
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &lim), 0);
    for (int i = 0; i < 10; ++i)
        Feed(s, sink, Frame(0x01000000 + i, 0x01000000 + i)); // 4.xxxx angles: 38-byte lines
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    // Turn counting and texts went on for every frame.
    EXPECT_EQ(s.m_dwCode1, 0x01000009u);
    EXPECT_EQ(sink.calls.size(), 20u); // gauges and labels of all ten frames
    const std::string content = ReadAll(path);
    ASSERT_GE(content.size(), 94u);
    const std::string body = content.substr(94);
    ASSERT_FALSE(body.empty());
    EXPECT_EQ(body.substr(body.size() - 2), "\r\n"); // no torn line at the end
    const auto lines = static_cast<std::uint64_t>(std::count(body.begin(), body.end(), '\n'));
    EXPECT_EQ(lines + file.LostLines(), 10u);
    EXPECT_GT(file.LostLines(), 0u);
    EXPECT_EQ(file.FirstError(), EFBIG);
}

} // namespace
