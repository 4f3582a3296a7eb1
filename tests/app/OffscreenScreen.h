// The offscreen platform's screen is 800 x 800 unless configured: tests that
// need the main dialog at its full size, a small screen or a high device
// pixel ratio describe the screen they mean.
#pragma once

#include <QByteArray>
#include <QString>

#include <cstdio>
#include <string>
#include <unistd.h>

// The -platform argument for an offscreen screen of width x height device
// pixels at the given device pixel ratio; the config file is written at once
// (Qt reads it while the application is made).
inline std::string OffscreenPlatformArg(int width, int height, double dpr = 1.0)
{
    const std::string path = "/tmp/telvar-offscreen-" + std::to_string(::getpid()) + "-" + std::to_string(width)
        + "x" + std::to_string(height) + "-" + std::to_string(static_cast<int>(dpr * 100)) + ".json";
    if (FILE* f = std::fopen(path.c_str(), "w")) {
        std::fprintf(f,
                     "{\"screens\":[{\"name\":\"telvar-test\",\"x\":0,\"y\":0,\"width\":%d,\"height\":%d,"
                     "\"logicalDpi\":96,\"logicalBaseDpi\":96,\"dpr\":%g}]}\n",
                     width, height, dpr);
        std::fclose(f);
    }
    return "offscreen:configfile=" + path;
}

// True when the tests run on the offscreen platform (the default).
inline bool RunsOffscreen()
{
    const QByteArray qpa = qgetenv("QT_QPA_PLATFORM");
    return qpa.isEmpty() || qpa == "offscreen";
}
