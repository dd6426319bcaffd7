#include "tests/support/testing.h"

#include <cstdlib>
#include <unistd.h>

namespace testing_support {

static IOType io;

// InitModule with the stand-in and a private T:, without touching the faults.
static void Wire()
{
    static std::string temp;
    if (temp.empty()) {
        temp = platform::MakePrivateTemp();
        platform::SetAssign("T", temp);
        atexit([] { platform::RemoveTemp(temp); });
    }
    InitModule(&io, tabulon::ServiceTable(), nullptr, &platform::exec, &platform::dos,
               &platform::utility, &platform::locale, &platform::intuition, &platform::gadtools,
               nullptr, nullptr, 0);
}

void UseStandIn()
{
    platform::Reset();
    Wire();
}

std::string ModulePath()
{
    return std::string(SHEAF_MODULE_PATH);
}

std::string SourcePath(const std::string &relative)
{
    return std::string(SHEAF_SOURCE_DIR) + "/" + relative;
}

std::string TempDir()
{
    std::string dir = platform::AssignDir("T") + "/test.XXXXXX";
    if (mkdtemp(dir.data()) == nullptr)
        abort();
    return dir;
}

Imported ImportFile(const std::string &path)
{
    static tabulon::Module module;
    static std::string opened;
    Imported result;

    Wire();
    if (opened.empty()) {
        std::string why = module.Open(ModulePath());
        if (!why.empty()) {
            ADD_FAILURE() << "module: " << why;
            return result;
        }
        opened = ModulePath();
    }
    result.rc = module.Import(path, result.doc);
    if (!result.doc.sheets.empty()) {
        for (const tabulon::PlacedCell &c : tabulon::Placed(result.doc.sheets.back())) {
            if (!result.cells.empty())
                result.cells += "|";
            result.cells += tabulon::CellName(c.row, c.col) + "=" + c.text;
            result.count++;
        }
    }
    return result;
}

Imported ImportMembers(const std::vector<bookgen::Member> &members, const std::string &name)
{
    std::string dir = TempDir();
    std::string path = dir + "/" + name;
    std::string why;

    if (!bookgen::WriteZip(path, members, &why)) {
        ADD_FAILURE() << "cannot write " << path << ": " << why;
        return Imported();
    }
    Imported result = ImportFile(path);
    platform::RemoveTemp(dir);
    return result;
}

Imported ImportSheet(const std::string &sheetXml, const std::string &sharedStrings)
{
    return ImportMembers(bookgen::Workbook(sheetXml, sharedStrings));
}

::testing::AssertionResult NothingLeft()
{
    if (platform::Exists("T:XLS"))
        return ::testing::AssertionFailure() << "T:XLS is left";
    if (platform::OpenFiles() != 0)
        return ::testing::AssertionFailure() << platform::OpenFiles() << " files open";
    if (platform::HeldMemory() != 0)
        return ::testing::AssertionFailure() << platform::HeldMemory() << " blocks held";
    if (platform::OpenLibraries() != 0 || platform::HeldInterfaces() != 0 ||
        platform::OpenLocales() != 0 || platform::HeldLocks() != 0)
        return ::testing::AssertionFailure() << "a library, interface, locale or lock is held";
    return ::testing::AssertionSuccess();
}

}  // namespace testing_support
