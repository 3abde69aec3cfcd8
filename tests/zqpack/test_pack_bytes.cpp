// End to end: the real zqpack, plug-in and sample effect module pack a small effect file into the
// bytes worked out by hand from the packed format.
#include "test_support.h"

TEST(PackEndToEnd, MarkerKeyGivesTheHandWorkedBytes)
{
    WriteTemp("bytes.proj00", "[Project Binaries]\nSparkrig=" + BinLibrary("sparkrig_sample") + "\n");
    const std::string sSource = WriteTemp(
        "ping.Fx00a", "(header (version 1))\n"
                      "(effect-tree (effect (name \"Ping\") (length 500) (key-list\n"
                      "  (key (type Marker) (id 7) (track 0) (start-time 0) (end-time 1000) (properties\n"
                      "    (property (name Label) (type String) (value-list (value (time 0) (data "
                      "\"hit\"))))))))))\n");
    const RunResult run = RunProgram("zqpack", {"-q", sSource});
    EXPECT_EQ(run.nExit, 0) << run.sErr;

    // Marker is type 9 of ten; its properties are Label and Event (strings), Comment (no value)
    // and Reserved (none): all four are named in the string table, only the first two are written.
    Bytes expected = Words({0x5846515A, 2, 0x00010000, 52, 0, 1, 1, 10, 80, 192, // header
                            0,          0, 0,          0,  0, 0, 0, 0,  0,  1}); // key counts per type
    const auto text = [&expected](const std::string& s, size_t nPadded)
    {
        expected.insert(expected.end(), s.begin(), s.end());
        expected.resize(expected.size() + nPadded - s.size(), 0);
    };
    text("Ping", 8);      // @0
    text("Label", 8);     // @8
    text("hit", 4);       // @16
    text("Event", 8);     // @20
    text("", 4);          // @28: Event's default value
    text("Comment", 8);   // @32
    text("Reserved", 12); // @40; no curves follow

    const Bytes records = Words({0, 500, 1,                 // effect record at 132: name, length, keys
                                 9, 0, 0x3F800000, 7, 7, 2, // key at 144: type, 0.0 s, 1.0 s, id, link, props
                                 8, 180, 16, 20, 192, 28,   // Label = "hit", Event = "": name, skip, value
                                 0});                       // effect index at 192
    expected.insert(expected.end(), records.begin(), records.end());
    EXPECT_EQ(ReadBytes(TempPath("ping.Fx00p")), expected);
}
