#include "Guest/SynthResponder.h"
#include "Support/FirmwareFileBuilder.h"
#include "UpdateThread.h"

#include <gtest/gtest.h>

#include <random>

namespace
{
    Bytes unpack (const Bytes& source, size_t capacity, unsigned short& result)
    {
        // One guard byte past the capacity shows whether anything is written beyond it.
        Bytes destination (capacity + 1, 0xee);
        result = UpdateThreadTask::unpackSysexData (source.data(), destination.data(),
                                                    (unsigned short) source.size(), (unsigned short) capacity);
        return destination;
    }
}

TEST (SysexUnpacking, GroupsFirstByteCarriesTheTopBitsOfTheOtherSeven)
{
    unsigned short result = 0;
    const auto out = unpack ({ 0x05, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07 }, 7, result);

    EXPECT_EQ (result, 7);
    EXPECT_EQ (out, (Bytes { 0x81, 0x02, 0x83, 0x04, 0x05, 0x06, 0x07, 0xee }));
}

TEST (SysexUnpacking, BitSevenOfEverySourceByteIsIgnored)
{
    unsigned short result = 0;

    EXPECT_EQ (unpack ({ 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff }, 7, result),
               (Bytes { 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xee }));
    EXPECT_EQ (unpack ({ 0x80, 0x80, 0x81, 0x80, 0x80, 0x80, 0x80, 0xff }, 7, result),
               (Bytes { 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x7f, 0xee }));
}

TEST (SysexUnpacking, WholeGroupsOnlyAndNothingWrittenFromTheCapacityOn)
{
    struct Case
    {
        size_t sourceLength, capacity;
        unsigned short expectedResult;
        size_t expectedWritten;
    };

    const Case cases[] = {
        { 24, 20, 21, 20 },    // the header's info block
        { 56, 48, 49, 48 },    // the version blocks
        { 10, 64,  7,  7 },    // the two bytes after the group are ignored
        {  7, 64,  0,  0 },
        {  0, 64,  0,  0 },
        { 16,  0, 14,  0 },
        { 16,  9, 14,  9 },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE ("source " + std::to_string (c.sourceLength) + ", capacity " + std::to_string (c.capacity));

        // Zero source bytes unpack to zero, so every byte written differs from the guard.
        const Bytes source (c.sourceLength, 0x00);
        Bytes destination (64 + 1, 0xee);
        const auto result = UpdateThreadTask::unpackSysexData (source.data(), destination.data(),
                                                               (unsigned short) c.sourceLength,
                                                               (unsigned short) c.capacity);
        EXPECT_EQ (result, c.expectedResult);

        const auto written = (size_t) std::count (destination.begin(), destination.end(), 0x00);
        EXPECT_EQ (written, c.expectedWritten);
        EXPECT_TRUE (std::all_of (destination.begin(), destination.begin() + (long) written,
                                  [] (auto b) { return b == 0x00; }));
    }
}

TEST (SysexUnpacking, UndoesTheMakersPacking)
{
    std::mt19937 random (20240611);
    Bytes original (FirmwareFileBuilder::payloadSize);

    for (auto& b : original)
        b = (juce::uint8) random();

    const auto packed = SynthResponder::pack (original);
    ASSERT_EQ (packed.size(), 280u);
    EXPECT_TRUE (std::none_of (packed.begin(), packed.end(), [] (auto b) { return b >= 0x80; }));

    Bytes unpacked (original.size());
    EXPECT_EQ (UpdateThreadTask::unpackSysexData (packed.data(), unpacked.data(),
                                                  (unsigned short) packed.size(), (unsigned short) unpacked.size()),
               245);
    EXPECT_EQ (unpacked, original);
}
