#include "SynthResponder.h"

#include <algorithm>
#include <stdexcept>

namespace
{
    constexpr std::size_t versionRequestSize = 8;
    constexpr std::size_t firmwarePacketSize = 290;

    // The block the updater unpacks: 20 unused bytes, the text, the model code (little-endian).
    constexpr std::size_t versionTextOffset = 20;
    constexpr std::size_t modelCodeOffset = 44;
    constexpr std::size_t versionBlockSize = 48;

    // 56 packed bytes carry seven whole groups, one byte more than the block.
    constexpr std::size_t versionPayloadSize = 49;

    bool hasHeaderAndCommand (const SynthResponder::Bytes& message, std::uint8_t command)
    {
        return message.size() > 6
            && std::equal (std::begin (SynthResponder::header), std::end (SynthResponder::header), message.begin())
            && message[6] == command;
    }
}

SynthResponder::SynthResponder (Settings s)
    : settings (std::move (s))
{
    if (settings.versionText.size() > maxVersionTextLength)
        throw std::invalid_argument ("the version text is longer than "
                                     + std::to_string (maxVersionTextLength) + " bytes");
}

std::vector<SynthResponder::Bytes> SynthResponder::receive (const std::uint8_t* data, std::size_t size)
{
    std::vector<Bytes> replies;

    for (std::size_t i = 0; i < size; ++i)
    {
        const auto byte = data[i];

        if (byte == 0xf0)
        {
            pending.clear();
            inMessage = true;
        }

        if (! inMessage)
            continue;

        pending.push_back (byte);

        if (byte != 0xf7)
            continue;

        inMessage = false;

        if (onMessage)
            onMessage (pending);

        Bytes reply;

        if (answer (pending, reply))
            replies.push_back (std::move (reply));
    }

    return replies;
}

bool SynthResponder::answer (const Bytes& message, Bytes& reply) const
{
    if (settings.silent)
        return false;

    if (message.size() == versionRequestSize && hasHeaderAndCommand (message, versionRequestCommand))
    {
        reply = makeVersionReply (settings.versionText, settings.modelCode);
        return true;
    }

    if (message.size() == firmwarePacketSize && hasHeaderAndCommand (message, firmwarePacketCommand))
    {
        reply = makePacketAcknowledgement (message, settings.packetStatus);
        return true;
    }

    return false;
}

SynthResponder::Bytes SynthResponder::makeVersionReply (const std::string& versionText, std::uint32_t modelCode,
                                                        std::uint8_t deviceByte, std::uint8_t byte7)
{
    Bytes block (versionPayloadSize);

    for (std::size_t i = 0; i < block.size(); ++i)
        block[i] = (std::uint8_t) (0xc0 | i);

    std::fill (block.begin() + versionTextOffset, block.begin() + modelCodeOffset, (std::uint8_t) 0);
    std::copy_n (versionText.begin(), std::min (versionText.size(), maxVersionTextLength),
                 block.begin() + versionTextOffset);

    for (std::size_t i = 0; i < 4; ++i)
        block[modelCodeOffset + i] = (std::uint8_t) (modelCode >> (8 * i));

    static_assert (modelCodeOffset + 4 == versionBlockSize, "the model code ends the block");

    Bytes reply (std::begin (header), std::end (header));
    reply.insert (reply.end(), { deviceByte, versionReplyCommand, byte7 });

    const auto payload = pack (block);
    reply.insert (reply.end(), payload.begin(), payload.end());
    reply.push_back (0xf7);
    return reply;
}

SynthResponder::Bytes SynthResponder::makePacketAcknowledgement (const Bytes& packet, std::uint8_t status)
{
    if (packet.size() < 9)
        throw std::invalid_argument ("a packet is at least nine bytes long");

    return makeAcknowledgement (packet[8], status, packet[5], packet[7]);
}

SynthResponder::Bytes SynthResponder::makeAcknowledgement (std::uint8_t packetNumber, std::uint8_t status,
                                                           std::uint8_t deviceByte, std::uint8_t byte7)
{
    Bytes acknowledgement (std::begin (header), std::end (header));
    acknowledgement.insert (acknowledgement.end(),
                            { deviceByte, packetAcknowledgementCommand, byte7, packetNumber, status, 0xf7 });
    return acknowledgement;
}

SynthResponder::Bytes SynthResponder::pack (const Bytes& data)
{
    Bytes packed;

    for (std::size_t start = 0; start < data.size(); start += 7)
    {
        const auto count = std::min<std::size_t> (7, data.size() - start);
        std::uint8_t topBits = 0;

        for (std::size_t k = 0; k < count; ++k)
            topBits = (std::uint8_t) (topBits | ((data[start + k] >> 7) << k));

        packed.push_back (topBits);

        for (std::size_t k = 0; k < count; ++k)
            packed.push_back (data[start + k] & 0x7f);
    }

    return packed;
}
