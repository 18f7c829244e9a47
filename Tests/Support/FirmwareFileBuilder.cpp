#include "FirmwareFileBuilder.h"
#include "Guest/SynthResponder.h"

#include <algorithm>

namespace
{
    // Where the header's fields lie in the 245 unpacked payload bytes.
    constexpr size_t skipFlagOffset = 8;
    constexpr size_t versionTextOffset = 21 + 16;
    constexpr size_t versionTextCapacity = 32;

    Bytes patternPayload (juce::uint8 seed)
    {
        Bytes payload (FirmwareFileBuilder::payloadSize);

        for (size_t i = 0; i < payload.size(); ++i)
            payload[i] = (juce::uint8) (((i * 37 + seed * 11) & 0x7f) | ((i & 1) << 7));

        return payload;
    }
}

Bytes FirmwareFileBuilder::firmwarePacket (juce::uint8 packetNumber, const Bytes& payload,
                                           juce::uint8 deviceByte, juce::uint8 byte7)
{
    const auto packed = SynthResponder::pack (payload);
    Bytes packet (std::begin (SynthResponder::header), std::end (SynthResponder::header));
    packet.reserve (packet.size() + 4 + packed.size() + 1);
    packet.insert (packet.end(), { deviceByte, SynthResponder::firmwarePacketCommand, byte7, packetNumber });
    packet.insert (packet.end(), packed.begin(), packed.end());
    packet.push_back (0xf7);
    return packet;
}

Bytes FirmwareFileBuilder::headerPacket (const std::string& versionText, juce::uint32 skipVersionCheck)
{
    auto payload = patternPayload (0);

    for (size_t i = 0; i < 4; ++i)
        payload[skipFlagOffset + i] = (juce::uint8) (skipVersionCheck >> (8 * i));

    // The byte after the field is dropped by the updater; a digit there shows whether
    // a text that fills the field is read past its end.
    payload[versionTextOffset + versionTextCapacity] = '9';

    const auto textLength = std::min (versionText.size(), versionTextCapacity);
    std::copy_n (versionText.begin(), textLength, payload.begin() + (long) versionTextOffset);

    // A text that ends early ends at a zero byte; what follows it must not be read.
    if (textLength < versionTextCapacity)
    {
        payload[versionTextOffset + textLength] = 0;

        for (auto i = textLength + 1; i < versionTextCapacity; ++i)
            payload[versionTextOffset + i] = (juce::uint8) (i % 2 == 0 ? '9' : '.');
    }

    return firmwarePacket (0, payload);
}

Bytes FirmwareFileBuilder::dataPacket (juce::uint8 packetNumber)
{
    return firmwarePacket (packetNumber, patternPayload (packetNumber));
}

FirmwareFileBuilder& FirmwareFileBuilder::header (const std::string& versionText, juce::uint32 skipVersionCheck)
{
    return append (headerPacket (versionText, skipVersionCheck));
}

FirmwareFileBuilder& FirmwareFileBuilder::packet (juce::uint8 packetNumber)
{
    return append (dataPacket (packetNumber));
}

FirmwareFileBuilder& FirmwareFileBuilder::append (const Bytes& bytes)
{
    data.insert (data.end(), bytes.begin(), bytes.end());
    return *this;
}

FirmwareFileBuilder& FirmwareFileBuilder::truncateTo (size_t length)
{
    data.resize (std::min (length, data.size()));
    return *this;
}

juce::File FirmwareFileBuilder::writeTo (const juce::File& file) const
{
    // replaceWithData would delete the file when there is nothing to write.
    file.deleteFile();
    {
        juce::FileOutputStream out (file);

        if (! data.empty())
            out.write (data.data(), data.size());
    }

    return file;
}
