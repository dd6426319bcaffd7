#include "tests/support/testing.h"

namespace testing_support {

void UseHost()
{
    platform::Reset();
    WireModule(tabulon::ServiceTable());
}

std::string ModulePath()
{
    return std::string(SHEAF_MODULE_PATH);
}

std::string SourcePath(const std::string &relative)
{
    return std::string(SHEAF_SOURCE_DIR) + "/" + relative;
}

Imported ImportFile(const std::string &path)
{
    static tabulon::Module module;
    static std::string opened;
    Imported result;

    WireModule(tabulon::ServiceTable());
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

}  // namespace testing_support
