// Micro benchmarks: the scanner against a baseline that only reads the bytes,
// the formula conversion and one whole import through the module file.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

#include "bookgen/books.h"
#include "formula/formula.h"
#include "module/sheaf.h"
#include "platform/platform.h"
#include "tabulon/host.h"
#include "xml/xml.h"

namespace {

static IOType io;

void Wire()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    platform::UsePrivateTemp();
    platform::StartModule(InitModule, &io, tabulon::ServiceTable());
}

std::string Rows(int rows)
{
    std::string s;
    for (int r = 1; r <= rows; r++)
        s += "<row r=\"" + std::to_string(r) + "\"><c r=\"A" + std::to_string(r) +
             "\" t=\"s\"><v>" + std::to_string(r) + "</v></c><c r=\"B" + std::to_string(r) +
             "\"><f>SUM(A1:A9)</f><v>12.5</v></c></row>";
    return s;
}

// The floor of the scanner: a stream that only reads the bytes.
void BaselineNextByte(benchmark::State &state)
{
    Wire();
    std::string xml = Rows(2000);
    for (auto _ : state) {
        XMLFile *fp = OpenXMLStream(platform::MemoryFile(xml));
        int64 sum = 0;
        for (int32 c; (c = NextByte(fp)) >= 0;)
            sum += c;
        benchmark::DoNotOptimize(sum);
        CloseXMLStream(fp);
    }
    state.SetBytesProcessed(state.iterations() * (int64_t)xml.size());
}
BENCHMARK(BaselineNextByte);

void ScanTags(benchmark::State &state)
{
    Wire();
    std::string xml = Rows(2000);
    char tag[XML_BUFSIZE];
    BOOL complete = FALSE;
    for (auto _ : state) {
        XMLFile *fp = OpenXMLStream(platform::MemoryFile(xml));
        int n = 0;
        while (FindXMLSection(fp, "", sizeof(tag), tag, &complete))
            n += TagIs(tag, "c");
        benchmark::DoNotOptimize(n);
        CloseXMLStream(fp);
    }
    state.SetBytesProcessed(state.iterations() * (int64_t)xml.size());
}
BENCHMARK(ScanTags);

void Formula(benchmark::State &state)
{
    Wire();
    char out[XML_BUFSIZE];
    for (auto _ : state) {
        ConvertFormula("IF(SUM($A1:B7)>12%,AVERAGE(C1:C9),\"n/a\")", out, sizeof(out), 3, 1);
        benchmark::DoNotOptimize(out);
    }
}
BENCHMARK(Formula);

void ImportBook(benchmark::State &state)
{
    Wire();
    static tabulon::Module module;
    static bool opened = false;
    if (!opened) {
        opened = module.Open(SHEAF_MODULE_PATH).empty();
    }
    std::string path = platform::AssignDir("T") + "/bench.xlsx";
    bookgen::WriteZip(path, bookgen::MixedBook(state.range(0)));
    for (auto _ : state) {
        tabulon::Document doc;
        benchmark::DoNotOptimize(module.Import(path, doc));
    }
    state.SetItemsProcessed(state.iterations() * state.range(0) * 10);
}
BENCHMARK(ImportBook)->Arg(2000)->Unit(benchmark::kMillisecond);

}  // namespace
