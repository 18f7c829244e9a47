#include "Support/TransferFixture.h"

using UpdateTransfer = TransferFixture;

TEST_F (UpdateTransfer, EveryPacketArrivesUnchangedAndInOrder)
{
    const auto firmware = firmwareWithPackets (3);
    const auto task = transfer (firmware);

    EXPECT_EQ (task->errorMessage, "");

    const auto packets = synth.packetsReceived();
    ASSERT_EQ (packets.size(), 4u);
    EXPECT_EQ (packets[0], FirmwareFileBuilder::headerPacket ("1.1.0"));

    for (juce::uint8 i = 1; i <= 3; ++i)
        EXPECT_EQ (packets[i], FirmwareFileBuilder::dataPacket (i));
}
