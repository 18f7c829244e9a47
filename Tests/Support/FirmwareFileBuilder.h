#pragma once

#include <juce_core/juce_core.h>

#include <string>
#include <vector>

using Bytes = std::vector<juce::uint8>;

/**
    Builds firmware packets and files as the synthesizer's maker would ship them,
    with the tests' own 8-to-7 packing (the guest responder's), so that the updater's
    unpacking is checked against code it does not share.
*/
class FirmwareFileBuilder
{
public:
    /** A 290-byte firmware packet carrying the given 245 unpacked payload bytes. */
    static Bytes firmwarePacket (juce::uint8 packetNumber, const Bytes& payload,
                                 juce::uint8 deviceByte = 0x00, juce::uint8 byte7 = 0x07);

    /** The header packet (number 0) with a version text and the skip flag; the bytes
        the updater does not interpret are filled with a pattern, top bits included. */
    static Bytes headerPacket (const std::string& versionText, juce::uint32 skipVersionCheck = 0);

    /** A packet whose payload is a pattern that differs from packet to packet. */
    static Bytes dataPacket (juce::uint8 packetNumber);

    FirmwareFileBuilder& header (const std::string& versionText, juce::uint32 skipVersionCheck = 0);
    FirmwareFileBuilder& packet (juce::uint8 packetNumber);
    FirmwareFileBuilder& append (const Bytes& bytes);
    FirmwareFileBuilder& truncateTo (size_t length);

    const Bytes& bytes() const noexcept   { return data; }

    /** Writes the bytes over the file and returns it. */
    juce::File writeTo (const juce::File& file) const;

    static constexpr size_t payloadSize = 245;

private:
    Bytes data;
};
