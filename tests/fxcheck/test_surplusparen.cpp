// A ')' too many: the error stands at that ')', names the list it closed and what it left outside;
// a list merely placed after the list it belongs in is a warning that points back at that list.
#include "filecheck.h"
#include "fxcheck_cases.h"
#include "test_support.h"

using namespace fxcheck_cases;

namespace
{
struct Seen
{
    uint32_t nLine, nColumn;
    std::string sCode, sMessage;
    std::vector<std::tuple<uint32_t, uint32_t, std::string>> notes;
};

std::vector<Seen> CheckSource(const std::string& sName, const std::string& sText)
{
    CModuleCache modules;
    CSourceText text;
    std::vector<Diagnostic> diags;
    CheckFile(WriteTemp(sName, sText), BinLibrary("sparkrig_sample"), modules, text, diags);
    std::vector<Seen> seen;
    for (const Diagnostic& diag : diags)
    {
        seen.push_back({diag.nLine, diag.nColumn, diag.GetCode(), diag.sMessage, {}});
        for (const DiagnosticNote& note : diag.notes)
            seen.back().notes.emplace_back(note.nLine, note.nColumn, note.sMessage);
    }
    return seen;
}

using Notes = std::vector<std::tuple<uint32_t, uint32_t, std::string>>;
} // namespace

// The shape of the first report: the extra ')' at the end of line 2 closes 'effect-tree', and the
// next effect stands at the top of the file, where the packer ignores it. The ')' meant to close the
// tree is left over at the end.
TEST(FxCheckSurplusParen, ClosesTheTreeEarly)
{
    const std::vector<Seen> seen =
        CheckSource("tree.Fx00a", std::string(kHeader) + "(effect-tree (effect (name A) (length 10)))\n"
                                                         "  (effect (name B) (length 10)))\n");
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].sCode, "surplus-paren");
    EXPECT_EQ(std::make_pair(seen[0].nLine, seen[0].nColumn), std::make_pair(2u, 43u));
    EXPECT_EQ(seen[0].sMessage, "')' closes 'effect-tree' early: effect 'B' after it is left outside and not "
                                "packed; is this ')' one too many?");
    EXPECT_EQ(seen[0].notes, Notes({{3, 3, "effect 'B' ends up in 'the file' here"}}));
    EXPECT_EQ(seen[1].sCode, "unmatched-paren");
    EXPECT_EQ(std::make_pair(seen[1].nLine, seen[1].nColumn), std::make_pair(3u, 32u));
}

// One ')' too many inside a key list: key B falls into the effect, and since every list around it
// then closes one ')' early, effect Y falls into the container. One finding, at the first ')'.
TEST(FxCheckSurplusParen, TheListsAroundCloseEarlyInTurn)
{
    const std::vector<Seen> seen = CheckSource(
        "keys.Fx00a", std::string(kHeader) +
                          "(effect-tree (container (name C) (children\n"
                          "(effect (name X) (length 50) (key-list (key (type Sprite) (id 1) (track 0) "
                          "(start-time 0) (end-time 10))) (key (name B))))\n"
                          "(effect (name Y) (length 5)))))\n");
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].sCode, "surplus-paren");
    EXPECT_EQ(std::make_pair(seen[0].nLine, seen[0].nColumn), std::make_pair(3u, 105u));
    EXPECT_EQ(seen[0].sMessage,
              "')' closes 'key-list' early: key 'B' after it is left outside and not packed; "
              "the lists around it then close early in turn, leaving out effect 'Y'; is "
              "this ')' one too many?");
    EXPECT_EQ(seen[0].notes, Notes({{3, 107, "key 'B' ends up in 'effect' here"},
                                    {4, 1, "effect 'Y' ends up in 'container' here"}}));
    EXPECT_EQ(seen[1].sCode, "unmatched-paren");
    EXPECT_EQ(std::make_pair(seen[1].nLine, seen[1].nColumn), std::make_pair(4u, 31u));
}

// A ')' too many that closes a key: the key's own lists are named, and the key misses them.
TEST(FxCheckSurplusParen, NamesTheListsOfARecord)
{
    const std::vector<Seen> seen = CheckSource(
        "record.Fx00a", std::string(kHeader) + "(effect-tree (effect (name E) (length 10) (key-list\n"
                                               "(key (name K) (type Sprite)) (id 1) (track 0) "
                                               "(start-time 0) (end-time 10) (end-time 11)))))\n");
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0].sCode, "missing-value");
    EXPECT_EQ(seen[1].sCode, "surplus-paren");
    EXPECT_EQ(std::make_pair(seen[1].nLine, seen[1].nColumn), std::make_pair(3u, 28u));
    EXPECT_EQ(seen[1].sMessage,
              "')' closes key 'K' early: 'id', 'track', 'start-time' and 2 more after it are "
              "left outside and not packed; is this ')' one too many?");
    EXPECT_EQ(seen[1].notes.size(), 5u);
    EXPECT_EQ(seen[2].sCode, "unmatched-paren");
}

// Without a ')' left over the parentheses balance: no ')' is too many, the effect was only put
// after the tree. A warning, and the old guess of a missing ')' is not made.
TEST(FxCheckSurplusParen, ABalancedFileOnlyWarns)
{
    const std::vector<Seen> seen =
        CheckSource("after.Fx00a", std::string(kHeader) + "(effect-tree (effect (name A) (length 10)))\n"
                                                          "(effect (name B) (length 10))\n");
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].sCode, "ignored-list");
    EXPECT_EQ(std::make_pair(seen[0].nLine, seen[0].nColumn), std::make_pair(3u, 1u));
    EXPECT_EQ(seen[0].sMessage,
              "list 'effect' is ignored inside 'the file'; does it belong in the 'effect-tree' before it?");
    EXPECT_EQ(seen[0].notes, Notes({{2, 43, "the 'effect-tree' closes here"}}));

    // A ')' too many at the very end leaves nothing outside: only the ')' itself is reported.
    const std::vector<Seen> end = CheckSource("end.Fx00a", std::string(kHeader) + Effect(Key("")) + ")");
    ASSERT_EQ(end.size(), 1u);
    EXPECT_EQ(end[0].sCode, "unmatched-paren");
}
