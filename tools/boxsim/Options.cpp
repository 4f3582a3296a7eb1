#include "tools/boxsim/Options.h"

#include <getopt.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "measurement/Protocol.h"

namespace boxsim
{

namespace
{

enum OptionId {
    OPT_HELP = 'h',
    OPT_LINK = 1000,
    OPT_SPEED1,
    OPT_SPEED2,
    OPT_START1,
    OPT_START2,
    OPT_WIDTH1,
    OPT_WIDTH2,
    OPT_GRAY1,
    OPT_GRAY2,
    OPT_BURST,
    OPT_RATE,
    OPT_FRAMES,
    OPT_NOISE,
    OPT_DROP,
    OPT_INSERT7E,
    OPT_SEED,
    OPT_FORCE7E,
    OPT_LOG,
    OPT_SENT_LOG,
    OPT_EXIT_STDIN,
    OPT_EXIT_CLOSE,
};

const option LONG_OPTIONS[] = {
    {"help", no_argument, nullptr, OPT_HELP},
    {"link", required_argument, nullptr, OPT_LINK},
    {"speed1", required_argument, nullptr, OPT_SPEED1},
    {"speed2", required_argument, nullptr, OPT_SPEED2},
    {"start1", required_argument, nullptr, OPT_START1},
    {"start2", required_argument, nullptr, OPT_START2},
    {"width1", required_argument, nullptr, OPT_WIDTH1},
    {"width2", required_argument, nullptr, OPT_WIDTH2},
    {"gray1", no_argument, nullptr, OPT_GRAY1},
    {"gray2", no_argument, nullptr, OPT_GRAY2},
    {"burst", no_argument, nullptr, OPT_BURST},
    {"rate", required_argument, nullptr, OPT_RATE},
    {"frames", required_argument, nullptr, OPT_FRAMES},
    {"noise", required_argument, nullptr, OPT_NOISE},
    {"drop", required_argument, nullptr, OPT_DROP},
    {"insert-7e", required_argument, nullptr, OPT_INSERT7E},
    {"seed", required_argument, nullptr, OPT_SEED},
    {"force-7e", no_argument, nullptr, OPT_FORCE7E},
    {"log", required_argument, nullptr, OPT_LOG},
    {"sent-log", required_argument, nullptr, OPT_SENT_LOG},
    {"exit-on-stdin-eof", no_argument, nullptr, OPT_EXIT_STDIN},
    {"exit-on-close", no_argument, nullptr, OPT_EXIT_CLOSE},
    {nullptr, 0, nullptr, 0},
};

bool ParseDouble(const char* text, double& out)
{
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(text, &end);
    if (end == text || *end != '\0' || errno == ERANGE || !std::isfinite(v))
        return false;
    out = v;
    return true;
}

bool ParseUnsigned(const char* text, std::uint64_t& out)
{
    if (*text == '-' || *text == '+' || *text == ' ')
        return false;
    char* end = nullptr;
    errno = 0;
    const unsigned long long v = std::strtoull(text, &end, 0);
    if (end == text || *end != '\0' || errno == ERANGE)
        return false;
    out = v;
    return true;
}

} // namespace

std::string UsageText()
{
    return "Usage: telvar-boxsim [OPTION]...\n"
           "Simulates the two-channel encoder interface box on a pseudo-terminal. The slave\n"
           "device path is printed as the first line on stdout; hand it (or --link) to the\n"
           "tool as TELVAR_COM1=PATH. Frames are sent only when commanded (start or poll).\n"
           "\n"
           "Device:\n"
           "  --link PATH            also make PATH a symlink to the device; removed on exit\n"
           "  --exit-on-close        exit when the program using the device closes it\n"
           "  --exit-on-stdin-eof    exit when stdin reaches end of file\n"
           "Encoders:\n"
           "  --speed1 DEG_PER_S     channel 1 speed in degrees per second, may be negative (0)\n"
           "  --speed2 DEG_PER_S     channel 2 speed (0)\n"
           "  --start1 DEG           channel 1 angle at start-up (0)\n"
           "  --start2 DEG           channel 2 angle at start-up (0)\n"
           "  --width1 BITS          channel 1 width until a width command, 10 to 32 (26)\n"
           "  --width2 BITS          channel 2 width until a width command, 10 to 32 (26)\n"
           "  --gray1                channel 1 sends Gray code (binary otherwise)\n"
           "  --gray2                channel 2 sends Gray code\n"
           "Streaming:\n"
           "  --burst                stream as fast as the device takes it (benchmarks)\n"
           "  --rate HZ              stream at HZ whatever the frequency command says\n"
           "  --frames N             each start command streams at most N frames\n"
           "Faults:\n"
           "  --noise P              per byte, probability of replacing it with another byte\n"
           "  --drop P               per byte, probability of dropping it\n"
           "  --insert-7e P          per frame, probability of a stray 0x7E before it\n"
           "  --seed N               seed of the fault generator (1)\n"
           "  --force-7e             every position word carries 0x7E in bits 8 to 15\n"
           "Logs:\n"
           "  --log FILE             every command received: 'MICROS 7A 1A 7A', with ' ignored'\n"
           "                         appended when the box does not act on it; every byte\n"
           "                         that is not part of a command: 'MICROS ? 55'\n"
           "  --sent-log FILE        every frame sent: 'WORD1 WORD2' in hex, then the faults\n"
           "                         applied to it: 'stray7e', 'drop@I', 'noise@I' (I = byte 0-9)\n"
           "  -h, --help             show this help\n"
           "\n"
           "Ends on SIGINT, SIGTERM or SIGHUP.\n";
}

ParseResult ParseOptions(int argc, char** argv, Options& options, std::string& error)
{
    options = Options{};
    optind = 0; // full re-initialisation, so the parser can run more than once
    opterr = 0;
    auto fail = [&error](const std::string& message) {
        error = message;
        return ParseResult::Error;
    };
    for (;;) {
        int index = -1;
        const int c = getopt_long(argc, argv, ":h", LONG_OPTIONS, &index);
        if (c == -1)
            break;
        const std::string name = index >= 0 ? std::string("--") + LONG_OPTIONS[index].name : std::string();
        double d = 0.0;
        std::uint64_t u = 0;
        switch (c) {
        case OPT_HELP:
            return ParseResult::Help;
        case OPT_LINK:
            if (*optarg == '\0')
                return fail("--link needs a path");
            options.linkPath = optarg;
            break;
        case OPT_SPEED1:
        case OPT_SPEED2:
        case OPT_START1:
        case OPT_START2:
            if (!ParseDouble(optarg, d))
                return fail(name + ": not a number: " + optarg);
            if (c == OPT_SPEED1)
                options.sim.channel[0].speedDegPerS = d;
            else if (c == OPT_SPEED2)
                options.sim.channel[1].speedDegPerS = d;
            else if (c == OPT_START1)
                options.sim.channel[0].startDeg = d;
            else
                options.sim.channel[1].startDeg = d;
            break;
        case OPT_WIDTH1:
        case OPT_WIDTH2:
            if (!ParseUnsigned(optarg, u) || u < protocol::MIN_BIT_WIDTH || u > protocol::MAX_BIT_WIDTH)
                return fail(name + ": a width is 10 to 32: " + optarg);
            options.sim.channel[c == OPT_WIDTH1 ? 0 : 1].width = static_cast<int>(u);
            break;
        case OPT_GRAY1:
            options.sim.channel[0].gray = true;
            break;
        case OPT_GRAY2:
            options.sim.channel[1].gray = true;
            break;
        case OPT_BURST:
            options.sim.burst = true;
            break;
        case OPT_RATE:
            if (!ParseDouble(optarg, d) || d <= 0.0 || d > 1e6)
                return fail("--rate: a rate is above 0 and at most 1000000 Hz: " + std::string(optarg));
            options.sim.rateHz = d;
            break;
        case OPT_FRAMES:
            if (!ParseUnsigned(optarg, u) || u == 0)
                return fail("--frames: a count is 1 or more: " + std::string(optarg));
            options.sim.frameLimit = u;
            break;
        case OPT_NOISE:
        case OPT_DROP:
        case OPT_INSERT7E:
            if (!ParseDouble(optarg, d) || d < 0.0 || d > 1.0)
                return fail(name + ": a probability is 0 to 1: " + optarg);
            if (c == OPT_NOISE)
                options.sim.faults.noise = d;
            else if (c == OPT_DROP)
                options.sim.faults.drop = d;
            else
                options.sim.faults.insert7e = d;
            break;
        case OPT_SEED:
            if (!ParseUnsigned(optarg, u))
                return fail("--seed: not an unsigned number: " + std::string(optarg));
            options.sim.faults.seed = u;
            break;
        case OPT_FORCE7E:
            options.sim.force7e = true;
            break;
        case OPT_LOG:
            options.commandLogPath = optarg;
            break;
        case OPT_SENT_LOG:
            options.sentLogPath = optarg;
            break;
        case OPT_EXIT_STDIN:
            options.exitOnStdinEof = true;
            break;
        case OPT_EXIT_CLOSE:
            options.exitOnClose = true;
            break;
        case ':':
            return fail(std::string("option needs a value: ") + argv[optind - 1]);
        default:
            return fail(std::string("unknown option: ") + argv[optind - 1]);
        }
    }
    if (optind < argc)
        return fail(std::string("unexpected argument: ") + argv[optind]);
    if (options.sim.burst && options.sim.rateHz > 0.0)
        return fail("--burst and --rate exclude each other");
    return ParseResult::Run;
}

} // namespace boxsim
