// ReadArgs of the stand-in: a text parsed by a template as the system parses a command's
// arguments.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "tests/support/standin.h"

namespace {

// An RDArgs over line, as the shell hands a command its arguments; NULL when none is made.
RDArgs *ArgsOver(std::string &line)
{
    auto *rda = (RDArgs *)platform::dos.AllocDosObjectTags(DOS_RDARGS, TAG_END);
    if (rda != nullptr) {
        rda->RDA_Source.CS_Buffer = line.data();
        rda->RDA_Source.CS_Length = (int32)line.size();
        rda->RDA_Flags = RDAF_NOPROMPT;
    }
    return rda;
}

// The text parsed by the template: "" and the IoErr for a failure, else each entry as
// "-" (not given), "S" (a switch given), "#n" (a number) or the text, joined by "|".
std::string Parse(const char *tmpl, const char *text)
{
    intptr_t array[4] = { 0, 0, 0, 0 };
    std::string line = std::string(text) + "\n", result, item;
    RDArgs *rda = ArgsOver(line);
    if (rda == nullptr)
        return "no RDArgs";
    if (platform::dos.ReadArgs(tmpl, array, rda) == nullptr) {
        result = "error " + std::to_string(platform::dos.IoErr());
    } else {
        std::istringstream items(tmpl);
        for (int i = 0; std::getline(items, item, ','); i++) {
            result += i > 0 ? "|" : "";
            if (array[i] == 0 || array[i] == DOSTRUE)
                result += array[i] == 0 ? "-" : "S";
            else if (item.find("/N") != std::string::npos)
                result += "#" + std::to_string(*(int32 *)array[i]);
            else
                result += (const char *)array[i];
        }
        platform::dos.FreeArgs(rda);
    }
    platform::dos.FreeDosObject(DOS_RDARGS, rda);
    return result;
}

}  // namespace

TEST(ReadArgs, ParsesByTheTemplate)
{
    const char *keys = "SHEET/K,ALL/S,LIST/S", *from = "FROM/A,TO,N=NUMBER/N";
    struct { const char *tmpl, *text, *want; } cases[] = {
        { keys, "", "-|-|-" }, { keys, "   ", "-|-|-" }, { keys, "SHEET=Data", "Data|-|-" },
        { keys, "sheet data", "data|-|-" }, { keys, "SHEET = \"Q1 2024\"", "Q1 2024|-|-" },
        { keys, "SHEET=\"a*\"b**c*Nd\"", "a\"b*c\nd|-|-" },
        { keys, "SHEET=\"ALL\"", "ALL|-|-" },          // quoted: never a keyword
        { keys, "all", "-|S|-" }, { keys, "LIST ALL", "-|S|S" },
        { keys, "SHEET=x=y", "error 118" },            // "=" ends a word
        { keys, "SHEET", "error 117" }, { keys, "SHEET=", "error 117" },
        { keys, "SHEET=\"open", "error 119" },
        { keys, "Data", "error 118" },                 // a value needs its keyword
        { keys, "ALL ALL", "error 118" }, { keys, "ALL=1", "error 118" },
        { keys, "SHEET=a SHEET=b", "error 118" }, { from, "x y NUMBER -12", "x|y|#-12" },
        { from, "n 7 x", "x|-|#7" },                   // an alias, then a value by place
        { from, "x N 1a", "error 115" }, { from, "", "error 116" },
        { "FROM/M", "x", "error 114" },                // a modifier the stand-in lacks
        { keys, "ALL\nSHEET=x", "-|S|-" },             // the line end ends the text
    };
    testing_support::UseStandIn();
    for (const auto &c : cases)
        EXPECT_EQ(c.want, Parse(c.tmpl, c.text)) << c.tmpl << " on " << c.text;
    EXPECT_EQ(nullptr, platform::HeldResource());
}

// What a parse holds stays until FreeArgs: an RDArgs given back without it leaves it held.
TEST(ReadArgs, HoldsItsResultsUntilFreeArgs)
{
    testing_support::UseStandIn();
    intptr_t array[1] = { 0 };
    std::string line = "SHEET=x\n";
    RDArgs *rda = ArgsOver(line);
    ASSERT_NE(nullptr, rda);
    ASSERT_EQ(rda, platform::dos.ReadArgs("SHEET/K", array, rda));
    platform::dos.FreeDosObject(DOS_RDARGS, rda);
    EXPECT_STREQ("parsed arguments are left held", platform::HeldResource());
    platform::dos.FreeArgs(rda);
    EXPECT_EQ(nullptr, platform::HeldResource());
    // No text to parse: the stand-in has no command line of its own.
    EXPECT_EQ(nullptr, platform::dos.ReadArgs("SHEET/K", array, nullptr));
}
