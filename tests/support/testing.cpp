#include "tests/support/testing.h"

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <sys/wait.h>
#include <unistd.h>

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

// A page's cells as "A1=5|B2=x".
static std::string PageCells(const tabulon::Sheet &sheet, size_t *count)
{
    std::string cells;
    for (const tabulon::PlacedCell &c : tabulon::Placed(sheet)) {
        if (!cells.empty())
            cells += "|";
        cells += tabulon::CellName(c.row, c.col) + "=" + c.text;
        (*count)++;
    }
    return cells;
}

// The module file, opened on first use; NULL when it cannot be.
static tabulon::Module *TheModule()
{
    static tabulon::Module module;
    static std::string opened;

    WireModule(tabulon::ServiceTable());
    if (opened.empty()) {
        std::string why = module.Open(ModulePath());
        if (!why.empty()) {
            ADD_FAILURE() << "module: " << why;
            return nullptr;
        }
        opened = ModulePath();
    }
    return &module;
}

LONG ModulePrefs(const std::string &prefs)
{
    tabulon::Module *module = TheModule();
    return module != nullptr ? module->SetPrefs(prefs) : 0;
}

Imported ImportFile(const std::string &path, const std::string &prefs)
{
    tabulon::Module *module = TheModule();
    Imported result;

    if (module == nullptr)
        return result;
    if (!prefs.empty()) {
        EXPECT_EQ(1, module->SetPrefs(prefs)) << prefs;
    }
    result.rc = module->Import(path, result.doc);
    if (!prefs.empty())
        module->SetPrefs("");
    for (const tabulon::Sheet &sheet : result.doc.sheets) {
        size_t count = 0;
        const char *name = sheet.page.pg_Node.ln_Name;
        result.pages += (result.pages.empty() ? "[" : "\n[") + std::string(name ? name : "") + "]" +
                        PageCells(sheet, &count);
    }
    if (!result.doc.sheets.empty())
        result.cells = PageCells(result.doc.sheets.back(), &result.count);
    return result;
}

Imported ImportMembers(const std::vector<bookgen::Member> &members, const std::string &name,
                       const std::string &prefs)
{
    std::string dir = TempDir();
    std::string path = dir + "/" + name;
    std::string why;

    if (!bookgen::WriteZip(path, members, &why)) {
        ADD_FAILURE() << "cannot write " << path << ": " << why;
        return Imported();
    }
    Imported result = ImportFile(path, prefs);
    platform::RemoveTemp(dir);
    return result;
}

Imported ImportSheet(const std::string &sheetXml, const std::string &sharedStrings)
{
    return ImportMembers(bookgen::Workbook(sheetXml, sharedStrings));
}

std::string ReadFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

CommandRun RunSheaf(const std::vector<std::string> &args, const std::vector<std::string> &env,
                    const std::string &input)
{
    CommandRun run;
    std::string dir = TempDir(), out = dir + "/out", err = dir + "/err";
    pid_t pid = fork();
    if (pid == 0) {
        for (const std::string &setting : env)
            putenv(strdup(setting.c_str()));
        int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (o < 0 || e < 0 || dup2(o, 1) < 0 || dup2(e, 2) < 0)
            _exit(126);
        int i = input.empty() ? 0 : open(input.c_str(), O_RDONLY);
        if (i < 0 || dup2(i, 0) < 0)
            _exit(126);
        std::vector<char *> argv = {(char *)"sheaf"};
        for (const std::string &arg : args)
            argv.push_back((char *)arg.c_str());
        argv.push_back(nullptr);
        execv(SHEAF_PROGRAM_PATH, argv.data());
        _exit(127);
    }
    int status = 0;
    if (pid > 0 && waitpid(pid, &status, 0) == pid)
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    run.out = ReadFile(out);
    run.err = ReadFile(err);
    platform::RemoveTemp(dir);
    return run;
}

// The value of "name":"..." in a line of the command's jsonl, unescaped.
std::string JsonText(const std::string &line, const char *name)
{
    std::string key = std::string("\"") + name + "\":\"", text;
    size_t at = line.find(key);
    if (at == std::string::npos)
        return "";
    for (size_t i = at + key.size(); i < line.size() && line[i] != '"'; i++) {
        if (line[i] != '\\') {
            text += line[i];
            continue;
        }
        char c = line[++i];
        if (c == 'u') {
            text += (char)std::stoi(line.substr(i + 1, 4), nullptr, 16);    // controls only
            i += 4;
        } else {
            text += c == 'n' ? '\n' : c == 'r' ? '\r' : c == 't' ? '\t' : c == 'b' ? '\b' :
                    c == 'f' ? '\f' : c;
        }
    }
    return text;
}

std::string SheafCells(const std::vector<bookgen::Member> &members,
                       const std::vector<std::string> &args)
{
    std::string dir = TempDir(), book = dir + "/book.xlsx", why;
    if (!bookgen::WriteZip(book, members, &why)) {
        platform::RemoveTemp(dir);
        return "cannot write the workbook: " + why;
    }
    std::vector<std::string> all = {"--format", "jsonl"};
    all.insert(all.end(), args.begin(), args.end());
    all.push_back(book);
    CommandRun run = RunSheaf(all);
    platform::RemoveTemp(dir);
    if (run.status != 0)
        return "status " + std::to_string(run.status) + ": " + run.err;
    std::string cells;
    size_t start = 0, end;
    while ((end = run.out.find('\n', start)) != std::string::npos) {
        std::string line = run.out.substr(start, end - start);
        cells += (cells.empty() ? "" : "|") + JsonText(line, "ref") + "=" + JsonText(line, "text");
        start = end + 1;
    }
    return cells;
}

void HostPage::SetUp()
{
    UseStandIn();
    tabulon::SetCurrentDocument(&doc);
    table = tabulon::ServiceTable();
    page = ((NewPage_t)table[SVC_NewPage])((Mappe *)&doc);
    ASSERT_NE(nullptr, page);
}

void HostPage::TearDown()
{
    tabulon::SetCurrentDocument(nullptr);
}

Cell *HostPage::Put(ULONG row, ULONG col, const char *text)
{
    Cell *cell = ((NewCell_t)table[SVC_NewCell])(page, col, row);
    if (cell != nullptr && text != nullptr)
        cell->c_Text = ((AllocString_t)table[SVC_AllocString])(text);
    return cell;
}

std::string HostPage::View(tabulon::Format format, int width, ULONG codeset)
{
    char *data = nullptr;
    size_t size = 0;
    FILE *out = open_memstream(&data, &size);
    tabulon::Show(doc.sheets.back(), format, codeset, out, width);
    fclose(out);
    std::string text(data, size);
    free(data);
    return text;
}

}  // namespace testing_support
