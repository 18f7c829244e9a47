#include "Support/TransferFixture.h"

#include <numeric>

namespace
{
    const juce::String incompatible ("Incompatible version - Min version for KestrovaLXD & KestrovaS is 1.1.0 ");

    struct GateCase
    {
        std::string name;
        juce::uint32 modelCode;
        std::string versionText;
        juce::uint32 skipVersionCheck;
        bool passes;
        std::string fileVersion;
    };

    void PrintTo (const GateCase& c, std::ostream* os)    { *os << c.name; }

    const GateCase gateCases[] = {
        { "Model2At106Passes",               2, "1.0.6",   0, true,  "1.0.6" },
        { "Model3At106Passes",               3, "1.0.6",   0, true,  "1.0.6" },
        { "Model2At105IsRefused",            2, "1.0.5",   0, false, "1.0.5" },
        { "Model3At105IsRefused",            3, "1.0.5",   0, false, "1.0.5" },
        { "Model2At099IsRefused",            2, "0.9.9",   0, false, "0.9.9" },
        { "Model2At0110Passes",              2, "0.11.0",  0, true,  "0.11.0" },
        { "Model3At1010Passes",              3, "1.0.10",  0, true,  "1.0.10" },
        { "Model1PassesAnyVersion",          1, "0.0.1",   0, true,  "0.0.1" },
        { "Model4PassesAnyVersion",          4, "0.0.1",   0, true,  "0.0.1" },
        { "Model0PassesAnyVersion",          0, "0.9.9",   0, true,  "0.9.9" },
        { "ModelCodeIsReadWhole",       0x0102, "0.9.9",   0, true,  "0.9.9" },
        { "ModelCodeIsLittleEndian",    0x02000000, "0.9.9", 0, true, "0.9.9" },
        { "SkipFlagPassesUnread",            2, "0.0.1",   1, true,  "0.0.0" },
        { "SkipFlagInItsTopByte",            2, "0.0.1",   0x01000000, true, "0.0.0" },
        { "PatchIsCutToEightBits",           2, "1.2.300", 0, true,  "1.2.44" },
        { "VersionInsideText",               2, "Version 1.0.5 (build 45)", 0, false, "1.0.5" },
        { "TextFillingTheFieldEndsThere",    2, "abcdefghijklmnopqrstuvwxyz 1.0.5", 0, false, "1.0.5" },
        { "TextWithoutVersionPasses",        2, "Release candidate", 0, true, "0.0.0" },
        { "EmptyTextPasses",                 3, "",        0, true,  "0.0.0" },
        { "AllZeroVersionIsNoVersion",       2, "0.0.0",   0, true,  "0.0.0" },
        { "OverlongPatchPasses",             2, "1.0.99999999999", 0, true, "1.0.255" },
        { "GateValueBeyondAnInt",            2, "21474837.0.0", 0, true, "21.0.0" },
    };

    class VersionGate : public TransferFixture,
                        public ::testing::WithParamInterface<GateCase>
    {
    };
}

TEST_P (VersionGate, DecidesBeforeAnyPacketIsSent)
{
    const auto& c = GetParam();
    synth.versionReply.modelCode = c.modelCode;

    const auto task = transfer (FirmwareFileBuilder().header (c.versionText, c.skipVersionCheck).packet (1));

    EXPECT_EQ (task->errorMessage, c.passes ? juce::String() : incompatible);
    EXPECT_EQ (synth.packetsReceived().size(), c.passes ? 2u : 0u);
    EXPECT_EQ (task->fileVersion.toString().toStdString(), c.fileVersion);
}

INSTANTIATE_TEST_SUITE_P (VersionGate, VersionGate, ::testing::ValuesIn (gateCases),
                          [] (const auto& info) { return info.param.name; });

//==============================================================================
using VersionGateHeader = TransferFixture;

TEST_F (VersionGateHeader, IsReadAtFileByte9EvenWhenThePacketStartsLater)
{
    // Nine stray bytes, then the packed blocks of a 1.0.5 header where the gate looks
    // for them, then the real packets, whose header says 1.1.0.
    const auto old = FirmwareFileBuilder::headerPacket ("1.0.5");
    Bytes prefix (old.begin(), old.begin() + 89);
    std::iota (prefix.begin(), prefix.begin() + 9, (juce::uint8) 0x01);

    const auto task = transfer (FirmwareFileBuilder().append (prefix).header ("1.1.0").packet (1));

    EXPECT_EQ (task->errorMessage, incompatible);
    EXPECT_EQ (task->fileVersion.toString(), "1.0.5");
    EXPECT_TRUE (synth.packetsReceived().empty());
}

//==============================================================================
namespace
{
    struct ShortFileCase
    {
        size_t length;
        std::string versionText;
        juce::String error;
        std::string fileVersion;
    };

    void PrintTo (const ShortFileCase& c, std::ostream* os)    { *os << c.length << " bytes of " << c.versionText; }

    const ShortFileCase shortFileCases[] = {
        {  0, "1.0.5", "Bad Sysex Stream", "0.0.0" },
        {  1, "1.0.5", "Bad Sysex Stream", "0.0.0" },
        { 88, "1.0.5", "Bad Sysex Stream", "0.0.0" },
        { 89, "1.0.5", incompatible,       "1.0.5" },
        { 89, "1.1.0", "Bad Sysex Stream", "1.1.0" },
    };

    class ShortFile : public TransferFixture,
                      public ::testing::WithParamInterface<ShortFileCase>
    {
    };
}

// The files are exactly as long as they say, so a read past the end shows under
// the address sanitizer.
TEST_P (ShortFile, HeaderIsReadOnlyWhenTheFileHoldsIt)
{
    const auto& c = GetParam();
    const auto task = transfer (FirmwareFileBuilder().header (c.versionText).truncateTo (c.length));

    EXPECT_EQ (task->errorMessage, c.error);
    EXPECT_EQ (task->fileVersion.toString().toStdString(), c.fileVersion);
    EXPECT_TRUE (synth.packetsReceived().empty());
}

INSTANTIATE_TEST_SUITE_P (VersionGate, ShortFile, ::testing::ValuesIn (shortFileCases),
                          [] (const auto& info)
                          {
                              return std::to_string (info.param.length) + "Bytes"
                                       + (info.param.versionText == "1.0.5" ? "Of105" : "Of110");
                          });
