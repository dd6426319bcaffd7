// Opens a module file by path as the real host does: checks its entries, hands InitModule
// the record, the services and the system's interfaces, then imports through io_Load.
#include "tabulon/host.h"

#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include "platform/platform.h"

#ifndef SHEAF_MODULE_DIR
#define SHEAF_MODULE_DIR "."
#endif

namespace tabulon {

typedef LONG (*Start_t)(void);

Module::~Module()
{
    if (handle_ != nullptr)
        dlclose(handle_);
}

std::string Module::Open(const std::string &path)
{
    if (handle_ != nullptr) {
        dlclose(handle_);
        handle_ = nullptr;
    }
    io_ = IOType{};

    void *handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        // dlerror names the file again; the caller already does.
        const char *why = dlerror();
        std::string text = why != nullptr ? why : "cannot be opened";
        if (text.compare(0, path.size() + 2, path + ": ") == 0)
            text.erase(0, path.size() + 2);
        return text;
    }
    InitModule_t init = (InitModule_t)dlsym(handle, "InitModule");
    Start_t start = (Start_t)dlsym(handle, "_start");
    std::string why;
    if (init == nullptr)
        why = "no InitModule entry: not a file-type module";
    else if (start == nullptr)
        why = "no _start entry: not a module file";
    else if (start() != 20)
        why = "its _start does not return 20: not a module file";
    else if (!platform::StartModule(init, &io_, ServiceTable()))
        why = "InitModule failed";
    else if (io_.io_Load == nullptr)
        why = "InitModule installed no load entry";
    if (!why.empty()) {
        io_ = IOType{};
        dlclose(handle);
        return why;
    }
    handle_ = handle;
    return "";
}

LONG Module::Import(const std::string &book, Document &doc)
{
    if (io_.io_Load == nullptr)
        return 20;
    SetCurrentDocument(&doc);
    // The host's own handle: the module learns the workbook's full path from it.
    BPTR file = platform::dos.FOpen(book.c_str(), MODE_OLDFILE, 1024);
    if (file == ZERO)
        return 20;
    LONG result = io_.io_Load(file, (Mappe *)&doc);
    for (Sheet &sheet : doc.sheets)
        sheet.Settle();
    platform::dos.FClose(file);
    return result;
}

LONG Module::SetPrefs(const std::string &text)
{
    if (io_.io_SetPrefs == nullptr)
        return 0;
    std::string copy = text;     // the module's argument is no const text
    return io_.io_SetPrefs(copy.data());
}

// The program's own path: the link the kernel keeps, else argv0 as given.
static std::string ProgramPath(const char *argv0)
{
    char self[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", self, sizeof(self) - 1);
    if (n > 0)
        return std::string(self, (size_t)n);
    return argv0 != nullptr ? argv0 : "";
}

// Beside the program (the build tree), in ../lib/sheaf/ from it (an installed tree), else
// where the build put it.
std::string DefaultModulePath(const char *argv0)
{
    std::string program = ProgramPath(argv0);
    size_t slash = program.rfind('/');
    if (slash != std::string::npos) {
        std::string dir = program.substr(0, slash + 1);
        for (const char *place : {"sheaf.io", "../lib/sheaf/sheaf.io"}) {
            std::string path = dir + place;
            if (access(path.c_str(), R_OK) == 0)
                return path;
        }
    }
    return std::string(SHEAF_MODULE_DIR) + "/sheaf.io";
}

}  // namespace tabulon
