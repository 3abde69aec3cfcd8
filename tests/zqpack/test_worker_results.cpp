// What crosses from a worker to the host: result lines read back field for field, and the worker's
// files read whole whatever their size.
#include "test_support.h"

#include "zqpack.h"

#include <cstring>
#include <random>

namespace
{
using zqpack::FileDigest;
using zqpack::FileOutcome;

// Any bytes but NUL, high bytes and control bytes included.
std::string RandomText(std::mt19937& random, size_t nMaxLength)
{
    std::string sText(random() % (nMaxLength + 1), ' ');
    for (char& c : sText)
        c = static_cast<char>(1 + random() % 255);
    return sText;
}

// A digest in one of the forms a worker sends: not taken, taken without a trusted stamp, stamped.
FileDigest RandomDigest(std::mt19937& random)
{
    FileDigest digest;
    const unsigned nForm = random() % 3;
    if (nForm == 0)
        return digest;
    digest.bOk = true;
    digest.nSize = random() % 100000;
    digest.digest.nLow = (uint64_t(random()) << 32) | random();
    digest.digest.nHigh = (uint64_t(random()) << 32) | random();
    if (nForm == 2)
    {
        digest.bHasStamp = digest.bStamped = true;
        digest.stamp = {digest.nSize, 1700000000000000000LL + static_cast<long long>(random()),
                        1700000000000000000LL + static_cast<long long>(random()), random(),
                        (uint64_t(random()) << 20) | random()};
    }
    return digest;
}

TEST(ZqpackWorkerProtocol, SeededOutcomesCrossUnchanged)
{
    std::mt19937 random(19);
    for (int nCase = 0; nCase < 300; ++nCase)
    {
        FileOutcome sent;
        sent.sSource = RandomText(random, 40);
        if (random() % 2)
            sent.sDestination = RandomText(random, 40);
        if (random() % 2)
            sent.sPacker = RandomText(random, 10);
        const zqpack::Result aResults[] = {zqpack::Result::PACKED, zqpack::Result::FAILED,
                                           zqpack::Result::UNCLAIMED};
        sent.eResult = aResults[random() % 3];
        for (unsigned n = random() % 4; n > 0; --n)
            sent.events.push_back({static_cast<zqpack::Event::Kind>(random() % 3),
                                   static_cast<int32_t>(random()), RandomText(random, 30)});
        for (unsigned n = random() % 6; n > 0; --n)
            sent.inputs.push_back(
                {static_cast<uint32_t>(random()), RandomText(random, 30), RandomDigest(random)});
        for (unsigned n = random() % 2; n > 0; --n)
            sent.unused.push_back({static_cast<uint32_t>(random()), static_cast<uint32_t>(random()),
                                   RandomText(random, 20), RandomText(random, 20), RandomText(random, 20),
                                   RandomText(random, 20)});
        sent.pluginDigest = RandomDigest(random);
        sent.outputDigest = RandomDigest(random);
        sent.sReason = RandomText(random, 20);
        sent.anOutRange[1] = random() % 5000;
        sent.anOutRange[0] = random() % (sent.anOutRange[1] + 1);
        sent.anErrRange[0] = random() % 5000;
        sent.anErrRange[1] = sent.anErrRange[0] + random() % 5000;

        const std::string sLine = zqpack::OutcomeToJson(sent, true);
        // Every field read back: the line the host's copy makes is the worker's, byte for byte.
        FileOutcome got;
        ASSERT_TRUE(zqpack::OutcomeFromJson(sLine, &got)) << sLine;
        EXPECT_EQ(sLine, zqpack::OutcomeToJson(got, true));
    }
}

TEST(ZqpackWorkerProtocol, EveryMemberIsRequiredAndChecked)
{
    const std::string sGood =
        "{\"source\":\"a\",\"destination\":\"b\",\"result\":\"packed\",\"packer\":\"P\","
        "\"events\":[{\"kind\":\"task\",\"level\":-3,\"text\":\"t\"}],"
        "\"inputs\":[{\"kind\":3,\"path\":\"p\",\"digest\":\"none\"}],"
        "\"unused\":[{\"why\":1,\"kind\":2,\"path\":\"u\",\"by\":\"\",\"resolved\":\"\","
        "\"reason\":\"r\"}],\"reason\":\"\",\"out\":[0,4],\"err\":[2,2]}";
    FileOutcome outcome;
    ASSERT_TRUE(zqpack::OutcomeFromJson(sGood, &outcome));
    EXPECT_EQ(-3, outcome.events.at(0).nLevel);

    // Each member renamed, and each value of a wrong kind, makes the line unreadable.
    const char* apszChanges[][2] = {
        {"\"destination\"", "\"other\""}, {"\"packer\"", "\"other\""},
        {"\"err\"", "\"other\""},         {"\"task\"", "\"job\""},
        {"\"packed\"", "\"done\""},       {"\"why\"", "\"other\""},
        {"\"by\"", "\"other\""},          {"\"resolved\"", "\"x\""},
        {"\"none\"", "\"12 z -\""},       {"\"kind\":3", "\"kind\":-3"},
        {"\"text\"", "\"other\""},        {"\"unused\":[", "\"unused\":{\"x\":["},
        {"\"path\":\"u\"", "\"path\":1"}, {"\"b\"", "7"},
    };
    for (const auto& change : apszChanges)
    {
        std::string sBad = sGood;
        const size_t nAt = sBad.find(change[0]);
        ASSERT_NE(std::string::npos, nAt) << change[0];
        sBad.replace(nAt, std::strlen(change[0]), change[1]);
        if (std::string(change[1]).find('{') != std::string::npos)
            sBad.insert(sBad.find("],\"reason\":\"\",\"out\"") + 1, "}");
        EXPECT_FALSE(zqpack::OutcomeFromJson(sBad, &outcome)) << sBad;
    }
}

// Sizes about the steps in which a file is read, each read back byte for byte; a limit below the
// size refuses the file.
TEST(ZqpackReadRegular, ReadsEveryFileWholeUpToItsLimit)
{
    for (const size_t nSize :
         {size_t(0), size_t(1), size_t(16383), size_t(16384), size_t(16385), size_t(70001)})
    {
        std::string sBytes(nSize, '\0');
        for (size_t i = 0; i < nSize; ++i)
            sBytes[i] = static_cast<char>(i * 7 + i / 256);
        const std::string sPath = WriteTemp("regular/" + std::to_string(nSize) + ".bin", sBytes);
        std::string sRead = "left over";
        ASSERT_TRUE(zqpack::ReadRegular(sPath, false, nSize, &sRead)) << nSize;
        EXPECT_TRUE(sRead == sBytes) << nSize;
        if (nSize > 0)
        {
            EXPECT_FALSE(zqpack::ReadRegular(sPath, false, nSize - 1, &sRead)) << nSize;
        }
    }
    std::string sRead;
    EXPECT_FALSE(zqpack::ReadRegular(TempPath("regular/missing.bin"), false, 100, &sRead));
    EXPECT_FALSE(zqpack::ReadRegular(TempPath("regular"), false, 100, &sRead));
}
} // namespace
