#include "tools/record/StableDevice.h"

#include <dirent.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace record
{
namespace
{

std::string Resolved(const std::string& path)
{
    char* r = ::realpath(path.c_str(), nullptr);
    if (!r)
        return {};
    std::string s(r);
    std::free(r);
    return s;
}

} // namespace

std::string StableDevicePath(const std::string& path, const std::string& byIdDir)
{
    const std::string target = Resolved(path);
    if (target.empty() || path.rfind(byIdDir + "/", 0) == 0)
        return path;
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(byIdDir.c_str())) {
        while (dirent* e = ::readdir(dir))
            if (e->d_name[0] != '.')
                names.emplace_back(e->d_name);
        ::closedir(dir);
    }
    std::sort(names.begin(), names.end()); // the same choice every time
    for (const std::string& name : names) {
        const std::string link = byIdDir + "/" + name;
        if (link != path && Resolved(link) == target)
            return link;
    }
    return path;
}

std::string OpenFailureReason(int err)
{
    switch (err) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return "没有这个设备";
    case EACCES:
    case EPERM:
        return "没有权限 (把用户加入 dialout 组后重新登录，用 id -nG 检查)";
    case EBUSY:
    case EWOULDBLOCK:
        return "被其他程序占用";
    default:
        return std::strerror(err);
    }
}

} // namespace record
