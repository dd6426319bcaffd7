// Every workbook of the shared corpus through the sheaf command: each imports or fails with
// one line and exit 1, as tests/corpus.tsv says; none crashes or leaves a workspace.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>

#include <archive.h>
#include <archive_entry.h>

#include "tests/support/testing.h"

namespace {

// The workbooks of the corpus, by name; empty when there is no corpus.
static std::vector<std::string> CorpusBooks()
{
    std::vector<std::string> books;
    std::error_code error;
    for (const auto &e : std::filesystem::directory_iterator(SHEAF_CORPUS_DIR, error))
        if (e.path().extension() == ".xlsx")
            books.push_back(e.path().filename());
    std::sort(books.begin(), books.end());
    return books;
}

// Runs every book with the environment setting env and compares with the table.
void RunCorpus(const std::string &env)
{
    testing_support::UseStandIn();
    std::vector<std::string> books = CorpusBooks();
    if (books.empty())
        GTEST_SKIP() << "no corpus at " << SHEAF_CORPUS_DIR;
    // Each line: name, then "cells<TAB>hash" or "fails<TAB>cause".
    std::map<std::string, std::pair<std::string, std::string>> table;
    std::istringstream in(testing_support::ReadFile(testing_support::SourcePath("tests/corpus.tsv")));
    for (std::string line; std::getline(in, line);) {
        size_t t1 = line.find('\t'), t2 = line.find('\t', t1 + 1);
        if (!line.empty() && line[0] != '#' && t2 != std::string::npos)
            table[line.substr(0, t1)] = {line.substr(t1 + 1, t2 - t1 - 1), line.substr(t2 + 1)};
    }
    EXPECT_EQ(table.size(), books.size()) << "tests/corpus.tsv and the corpus differ";

    std::string tmp = testing_support::TempDir();
    for (const std::string &name : books) {
        std::string path = std::string(SHEAF_CORPUS_DIR) + "/" + name;
        auto run = testing_support::RunSheaf({"--format", "jsonl", path}, {"SHEAF_TMP=" + tmp, env});
        EXPECT_TRUE(std::filesystem::is_empty(tmp)) << name << ", " << env << " left something in T:";
        auto expected = table.find(name);
        if (expected == table.end()) {
            ADD_FAILURE() << name << ", " << env << " is not in tests/corpus.tsv";
            continue;
        }
        const auto &[what, detail] = expected->second;
        if (what == "fails") {
            EXPECT_EQ(1, run.status) << name << ", " << env;
            EXPECT_EQ("sheaf: " + path + ": " + detail + "\n", run.err) << name << ", " << env;
            continue;
        }
        uint64_t hash = 0xcbf29ce484222325ull;      // FNV-1a of the output
        for (unsigned char c : run.out)
            hash = (hash ^ c) * 0x100000001b3ull;
        char hex[17];
        snprintf(hex, sizeof(hex), "%016llx", (unsigned long long)hash);
        EXPECT_EQ(0, run.status) << name << ", " << env << ": " << run.err;
        EXPECT_EQ("", run.err) << name << ", " << env;
        EXPECT_EQ(what, std::to_string(std::count(run.out.begin(), run.out.end(), '\n'))) << name << ", " << env;
        EXPECT_EQ(detail, hex) << name << ", " << env << ": the cells changed";
    }
    platform::RemoveTemp(tmp);
}

TEST(Corpus, EveryWorkbookImportsOrFailsAsItsTableSays)
{
    RunCorpus("SHEAF_STALE_IOERR=0");
}

// The names of the sheet elements of xl/workbook.xml, in order and as ISO-8859-1 keeps
// them (a character it lacks is "?"), in UTF-8; empty when the archive has no such part.
static std::vector<std::string> WorkbookSheetNames(const std::string &path)
{
    std::string xml;
    archive *a = archive_read_new();
    archive_read_support_format_zip(a);
    archive_entry *entry;
    if (archive_read_open_filename(a, path.c_str(), 1 << 16) == ARCHIVE_OK)
        while (archive_read_next_header(a, &entry) == ARCHIVE_OK)
            if (std::string(archive_entry_pathname(entry)) == "xl/workbook.xml") {
                char block[4096];
                for (la_ssize_t n; (n = archive_read_data(a, block, sizeof(block))) > 0;)
                    xml.append(block, (size_t)n);
                break;
            }
    archive_read_free(a);
    std::vector<std::string> names;
    for (size_t at = 0; (at = xml.find("<sheet ", at)) != std::string::npos; at++) {
        size_t name = xml.find(" name=\"", at), end = xml.find('"', name + 7);
        if (name == std::string::npos || end == std::string::npos || name > xml.find('>', at))
            continue;
        std::string text;
        const std::string raw = xml.substr(name + 7, end - name - 7);
        for (size_t i = 0; i < raw.size(); i++) {
            static const char *refs[][2] = {{"&amp;", "&"}, {"&lt;", "<"}, {"&gt;", ">"},
                                            {"&quot;", "\""}, {"&apos;", "'"}};
            bool ref = false;
            for (const auto &r : refs)
                if (raw.compare(i, strlen(r[0]), r[0]) == 0) {
                    text += r[1];
                    i += strlen(r[0]) - 1;
                    ref = true;
                }
            unsigned char c = (unsigned char)raw[i];
            if (!ref && (c < 0x80 || c >= 0xC0))
                text += c >= 0xC4 ? std::string("?") : raw.substr(i, c < 0x80 ? 1 : 2);
        }
        names.push_back(text);
    }
    return names;
}

// Every workbook of more than one sheet, imported as the sheaf command's sheet options import
// it: the list names the sheets in the workbook's order, and each page of ALL is what
// SHEET=n gives for the n-th worksheet.
TEST(Corpus, EachSheetOfAllSheetsIsWhatSheetNGives)
{
    testing_support::UseStandIn();
    std::vector<std::string> books = CorpusBooks();
    if (books.empty())
        GTEST_SKIP() << "no corpus at " << SHEAF_CORPUS_DIR;
    int several = 0;
    for (const std::string &name : books) {
        std::string path = std::string(SHEAF_CORPUS_DIR) + "/" + name;
        auto list = testing_support::ImportFile(path, "LIST");
        std::vector<std::string> listed;
        size_t worksheets = 0;
        for (const tabulon::PlacedCell &c : list.doc.sheets.empty() ? std::vector<tabulon::PlacedCell>()
                                                                    : tabulon::Placed(list.doc.sheets.back())) {
            worksheets += c.col == 1;
            if (c.col == 2)
                listed.push_back(tabulon::ToUtf8(c.text, platform::CodeSet()));
        }
        if (list.rc != 0 || listed.size() < 2)
            continue;
        several++;
        std::vector<std::string> inbook = WorkbookSheetNames(path);
        if (!inbook.empty()) {
            EXPECT_EQ(inbook, listed) << name;
        }
        auto all = testing_support::ImportFile(path, "ALL");
        std::string pages;
        for (size_t n = 1; n <= worksheets; n++) {
            auto one = testing_support::ImportFile(path, "SHEET=" + std::to_string(n));
            // A sheet that cannot be read fails the whole of ALL too.
            if (one.rc == 0)
                pages += (pages.empty() ? "" : "\n") + one.pages;
        }
        if (all.rc == 0) {
            EXPECT_EQ(pages, all.pages) << name;
        }
    }
    printf("%d workbooks of more than one sheet\n", several);
}

}  // namespace
