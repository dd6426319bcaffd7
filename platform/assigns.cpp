// Assigns of the stand-in: which directory of this machine a system path like "T:XLS"
// names, the private temporary directory behind T:, and Reset().
#include <cctype>
#include <climits>
#include <cstdlib>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/internal.h"

namespace platform {

static std::string Key(const char *name)
{
    std::string key;
    for (const char *p = name; *p != '\0' && *p != ':'; p++)
        key += (char)tolower((unsigned char)*p);
    return key;
}

static std::map<std::string, std::string> &Assigns()
{
    static std::map<std::string, std::string> assigns;
    return assigns;
}

void SetAssign(const char *name, const std::string &dir)
{
    Assigns()[Key(name)] = dir;
}

// T: is made on first use, so a program that never imports leaves nothing in /tmp.
static std::string DefaultTemp()
{
    const char *env = getenv("SHEAF_TMP");
    if (env != nullptr && *env != '\0')
        return env;
    static std::string made;
    if (made.empty()) {
        made = MakePrivateTemp();
        if (!made.empty())
            atexit([] { RemoveTemp(made); });
    }
    return made;
}

// The commands run in process, so c: is where the program itself lives.
static std::string ProgramDir()
{
    char path[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", path, sizeof(path) - 1);
    if (n <= 0)
        return "/";
    path[n] = '\0';
    std::string dir(path);
    size_t slash = dir.rfind('/');
    return slash == 0 || slash == std::string::npos ? "/" : dir.substr(0, slash);
}

std::string AssignDir(const char *name)
{
    std::string key = Key(name);
    auto it = Assigns().find(key);
    if (it != Assigns().end())
        return it->second;
    std::string dir;
    if (key == "t")
        dir = DefaultTemp();
    else if (key == "c")
        dir = ProgramDir();
    if (!dir.empty())
        Assigns()[key] = dir;
    return dir;
}

std::string HostPath(const char *path)
{
    if (path == nullptr)
        return "";
    const char *colon = nullptr;
    for (const char *p = path; *p != '\0' && *p != '/'; p++)
        if (*p == ':') {
            colon = p;
            break;
        }
    if (colon == nullptr || colon == path)
        return path;
    std::string name(path, colon);
    std::string key = Key(name.c_str());
    if (Assigns().find(key) == Assigns().end() && key != "t" && key != "c")
        return path;
    std::string dir = AssignDir(name.c_str());
    const char *rest = colon + 1;
    if (*rest == '\0')
        return dir;
    if (!dir.empty() && dir.back() != '/')
        dir += '/';
    return dir + rest;
}

bool Exists(const char *path)
{
    struct stat st;
    return lstat(HostPath(path).c_str(), &st) == 0;
}

std::string MakePrivateTemp()
{
    const char *base = getenv("TMPDIR");
    std::string dir = (base != nullptr && *base != '\0') ? base : "/tmp";
    dir += "/sheaf-XXXXXX";
    if (mkdtemp(dir.data()) == nullptr)     // mkdtemp makes it 0700
        return "";
    return dir;
}

void RemoveTemp(const std::string &dir)
{
    if (!dir.empty())
        RemoveTree(dir);
}

void UsePrivateTemp()
{
    static std::string temp;
    if (!temp.empty())
        return;
    temp = MakePrivateTemp();
    SetAssign("T", temp);
    atexit([] { RemoveTemp(temp); });
}

BOOL StartModule(InitModule_t init, IOType *io, APTR *services)
{
    return init(io, services, nullptr, &exec, &dos, &utility, &locale, &intuition, &gadtools,
                nullptr, nullptr, 0);
}

void Reset()
{
    faults = Faults{};
    ForgetFailure();
    ResetLibraries();
    SetCodeSet(CODESET_ISO_8859_1);
    unzipLimits = UnzipLimits{};
    LoadUnzipLimits();
    LoadMemoryBudget();
    LoadStaleIoErr();
    ForgetUnzipRefusal();
    ReleaseHugePages();
}

}  // namespace platform
