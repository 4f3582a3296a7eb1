#include "tools/record/RecordOptions.h"

#include <getopt.h>

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <ctime>

#include "measurement/Protocol.h"

namespace record
{
namespace
{

enum Option {
    OPT_HELP = 'h',
    OPT_VERSION = 'V',
    OPT_PORT = 1000,
    OPT_DEVICE,
    OPT_TYPE1,
    OPT_TYPE2,
    OPT_WIDTH1,
    OPT_WIDTH2,
    OPT_CLOCK,
    OPT_MODE,
    OPT_RATE,
    OPT_INTERVAL,
    OPT_DURATION,
    OPT_FRAMES,
    OPT_OUTPUT,
    OPT_FORMAT,
    OPT_TIMESTAMPS,
    OPT_RECONNECT,
    OPT_QUIET,
    OPT_FORCE,
};

const option LONG_OPTIONS[] = {
    {"help", no_argument, nullptr, OPT_HELP},
    {"version", no_argument, nullptr, OPT_VERSION},
    {"port", required_argument, nullptr, OPT_PORT},
    {"device", required_argument, nullptr, OPT_DEVICE},
    {"type1", required_argument, nullptr, OPT_TYPE1},
    {"type2", required_argument, nullptr, OPT_TYPE2},
    {"width1", required_argument, nullptr, OPT_WIDTH1},
    {"width2", required_argument, nullptr, OPT_WIDTH2},
    {"clock", required_argument, nullptr, OPT_CLOCK},
    {"mode", required_argument, nullptr, OPT_MODE},
    {"rate", required_argument, nullptr, OPT_RATE},
    {"interval", required_argument, nullptr, OPT_INTERVAL},
    {"duration", required_argument, nullptr, OPT_DURATION},
    {"frames", required_argument, nullptr, OPT_FRAMES},
    {"output", required_argument, nullptr, OPT_OUTPUT},
    {"format", required_argument, nullptr, OPT_FORMAT},
    {"timestamps", required_argument, nullptr, OPT_TIMESTAMPS},
    {"reconnect", no_argument, nullptr, OPT_RECONNECT},
    {"quiet", no_argument, nullptr, OPT_QUIET},
    {"force", no_argument, nullptr, OPT_FORCE},
    {nullptr, 0, nullptr, 0},
};

// The whole text is a decimal integer within [lo, hi].
bool WholeNumber(const char* text, long long lo, long long hi, long long& value)
{
    if (!text || !std::isdigit(static_cast<unsigned char>(text[0])))
        return false;
    errno = 0;
    char* end = nullptr;
    const long long v = std::strtoll(text, &end, 10);
    if (errno != 0 || *end != '\0' || v < lo || v > hi)
        return false;
    value = v;
    return true;
}

// Lower case without blanks: "0.5 M" and "0.5m" are the same item.
std::string Squeezed(const std::string& text)
{
    std::string s;
    for (char c : text)
        if (c != ' ')
            s += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

template <std::size_t N>
int ItemIndex(const std::array<const char*, N>& items, const char* text)
{
    for (std::size_t i = 0; i < N; ++i)
        if (Squeezed(items[i]) == Squeezed(text))
            return static_cast<int>(i);
    return -1;
}

std::string Items(const auto& items)
{
    std::string s;
    for (const char* item : items) {
        if (!s.empty())
            s += ", ";
        s += Squeezed(item);
    }
    return s;
}

} // namespace

ParseResult ParseRecordOptions(int argc, char** argv, RecordOptions& o, std::string& error)
{
    bool portGiven = false;
    bool deviceGiven = false;
    bool intervalGiven = false;
    optind = 0; // a fresh scan, also when called more than once
    opterr = 0;
    for (;;) {
        int index = -1;
        const int c = getopt_long(argc, argv, ":hV", LONG_OPTIONS, &index);
        if (c == -1)
            break;
        const std::string name = index >= 0 ? std::string("--") + LONG_OPTIONS[index].name : std::string();
        auto fail = [&](const std::string& what) {
            error = name + ": " + what + ": " + (optarg ? optarg : "");
            return ParseResult::Error;
        };
        long long n = 0;
        switch (c) {
        case OPT_HELP:
            return ParseResult::Help;
        case OPT_VERSION:
            return ParseResult::Version;
        case OPT_PORT:
            if (!WholeNumber(optarg, 1, 4, n))
                return fail("串口号为1到4");
            o.port = static_cast<int>(n);
            portGiven = true;
            break;
        case OPT_DEVICE:
            if (!optarg || !*optarg)
                return fail("需要设备路径");
            o.device = optarg;
            deviceGiven = true;
            break;
        case OPT_TYPE1:
        case OPT_TYPE2: {
            const std::string t = Squeezed(optarg);
            int type;
            if (t == "binary")
                type = 0;
            else if (t == "gray")
                type = 1;
            else
                return fail("数据类型为 binary 或 gray");
            (c == OPT_TYPE1 ? o.dataType1 : o.dataType2) = type;
            break;
        }
        case OPT_WIDTH1:
        case OPT_WIDTH2:
            if (!WholeNumber(optarg, protocol::MIN_BIT_WIDTH, protocol::MAX_BIT_WIDTH, n))
                return fail("传感器位宽限制10-32Bit");
            (c == OPT_WIDTH1 ? o.bitWidth1 : o.bitWidth2) = static_cast<int>(n);
            break;
        case OPT_CLOCK: {
            const int i = ItemIndex(protocol::CLOCK_TEXTS, optarg);
            if (i < 0)
                return fail("采样时钟为 " + Items(protocol::CLOCK_TEXTS) + " 之一");
            o.clockIndex = i;
            break;
        }
        case OPT_MODE: {
            const std::string m = Squeezed(optarg);
            if (m == "continuous")
                o.continuous = true;
            else if (m == "response")
                o.continuous = false;
            else
                return fail("工作模式为 continuous 或 response");
            break;
        }
        case OPT_RATE: {
            const int i = ItemIndex(protocol::FREQ_TEXTS, optarg);
            if (i < 0)
                return fail("连续采样频率为 " + Items(protocol::FREQ_TEXTS) + " 之一");
            o.rateIndex = i;
            break;
        }
        case OPT_INTERVAL:
            if (!WholeNumber(optarg, 1, 2000, n))
                return fail("定时间隔为1-2000ms");
            o.intervalMs = static_cast<int>(n);
            intervalGiven = true;
            break;
        case OPT_DURATION: {
            errno = 0;
            char* end = nullptr;
            const double d = optarg && std::isdigit(static_cast<unsigned char>(optarg[0])) ? std::strtod(optarg, &end) : -1;
            if (errno != 0 || !end || *end != '\0' || !std::isfinite(d) || d <= 0 || d > 1e9)
                return fail("时长为大于0的秒数");
            o.durationSeconds = d;
            break;
        }
        case OPT_FRAMES:
            if (!WholeNumber(optarg, 1, static_cast<long long>(1e15), n))
                return fail("帧数为1或更多");
            o.frames = static_cast<std::uint64_t>(n);
            break;
        case OPT_OUTPUT:
            if (!optarg || !*optarg)
                return fail("需要文件名");
            o.output = optarg;
            break;
        case OPT_FORMAT: {
            const std::string f = Squeezed(optarg);
            if (f == "dat")
                o.format = OutputFormat::Dat;
            else if (f == "csv")
                o.format = OutputFormat::Csv;
            else
                return fail("格式为 dat 或 csv");
            break;
        }
        case OPT_TIMESTAMPS:
            if (!optarg || !*optarg)
                return fail("需要文件名");
            o.timestamps = optarg;
            break;
        case OPT_RECONNECT:
            o.reconnect = true;
            break;
        case OPT_QUIET:
            o.quiet = true;
            break;
        case OPT_FORCE:
            o.force = true;
            break;
        case ':':
            error = std::string(argv[optind - 1]) + ": 缺少参数";
            return ParseResult::Error;
        default:
            error = std::string("未知选项: ") + argv[optind - 1];
            return ParseResult::Error;
        }
    }
    if (optind < argc) {
        error = std::string("多余的参数: ") + argv[optind];
        return ParseResult::Error;
    }
    if (portGiven && deviceGiven) {
        error = "--port 与 --device 只能选一个";
        return ParseResult::Error;
    }
    // The dialog's interval edit starts empty, and an empty interval is refused.
    if (!o.continuous && !intervalGiven) {
        error = "--mode response: 需要 --interval (定时间隔为1-2000ms)";
        return ParseResult::Error;
    }
    if (o.continuous && intervalGiven) {
        error = "--interval: 只用于 --mode response";
        return ParseResult::Error;
    }
    if (!o.timestamps.empty() && o.timestamps == o.output) {
        error = "--timestamps: 不能与 --output 是同一个文件";
        return ParseResult::Error;
    }
    return ParseResult::Run;
}

std::string DefaultOutputName(std::int64_t unixSeconds, OutputFormat format)
{
    const std::time_t t = static_cast<std::time_t>(unixSeconds);
    std::tm local{};
    localtime_r(&t, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    return std::string("Telvar-Record-") + stamp + (format == OutputFormat::Csv ? ".csv" : ".dat");
}

std::string RecordUsage()
{
    return "用法: telvar-record [选项]...\n"
           "不用窗口，从串口上的编码器接口盒记录测量数据，直到时长或帧数用完，\n"
           "或收到 SIGINT、SIGTERM、SIGHUP。发给盒子的命令与主程序相同。\n"
           "\n"
           "串口:\n"
           "  --port N             串口号 1 到 4，与主程序的对应相同 (TELVAR_COM<N>) (1)\n"
           "  --device PATH        直接指定设备，代替 --port\n"
           "通道:\n"
           "  --type1 binary|gray  通道1数据类型 (binary)\n"
           "  --type2 binary|gray  通道2数据类型 (binary)\n"
           "  --width1 BITS        通道1位宽，10 到 32 (26)\n"
           "  --width2 BITS        通道2位宽，10 到 32 (26)\n"
           "采样:\n"
           "  --clock 0.2M|0.5M|2M|5M|10M      采样时钟 (0.5M)\n"
           "  --mode continuous|response       工作模式 (continuous)\n"
           "  --rate 1kHz|100Hz|10Hz|1Hz       连续采样频率 (100Hz)\n"
           "  --interval MS        响应模式间隔，1 到 2000 ms (响应模式必须给出)\n"
           "结束:\n"
           "  --duration SECONDS   记录这么多秒后结束\n"
           "  --frames N           记录 N 帧后结束\n"
           "输出:\n"
           "  --output FILE        记录文件 (Telvar-Record-<年月日-时分秒>.<格式>)\n"
           "  --format dat|csv     dat 与主程序的记录文件逐字节相同；csv 为 UTF-8 (dat)\n"
           "  --timestamps FILE    每一记录行的行号、UTC 时间和单调时钟秒数\n"
           "  --force              覆盖已有的文件\n"
           "其他:\n"
           "  --reconnect          设备丢失后等它回来，重新设置后继续记录\n"
           "  --quiet              不显示状态行\n"
           "  -h, --help           显示本帮助\n"
           "  -V, --version        显示版本\n"
           "\n"
           "退出状态: 0 正常结束; 1 内部错误; 2 选项错误; 3 设备丢失 (没有 --reconnect);\n"
           "4 串口打不开; 5 输出文件失败 (建不了、已存在或有行没写进去)。\n"
           "详见 telvar-record(1)。\n";
}

} // namespace record
