#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

/** The synthesizer's side of the firmware conversation, free of any MIDI API:
    it is fed System Exclusive data as the port delivers it, in whole messages or
    in pieces, and hands back the replies that a synthesizer would send.
*/
class SynthResponder
{
public:
    using Bytes = std::vector<std::uint8_t>;

    struct Settings
    {
        std::string versionText = "1.2.3";
        std::uint32_t modelCode = 1;

        /** The status that every packet acknowledgement carries. */
        std::uint8_t packetStatus = 1;

        /** A silent synthesizer answers nothing at all, not even the version request. */
        bool silent = false;
    };

    /** The longest version text that fits the version block. */
    static constexpr std::size_t maxVersionTextLength = 24;

    /** What every message of the conversation starts with; after it come the device byte
        and the command that tells the messages apart. */
    static constexpr std::uint8_t header[] = { 0xf0, 0x00, 0x7f, 0x7f, 0x20 };
    static constexpr std::uint8_t firmwarePacketCommand = 0x71;
    static constexpr std::uint8_t packetAcknowledgementCommand = 0x72;
    static constexpr std::uint8_t versionRequestCommand = 0x73;
    static constexpr std::uint8_t versionReplyCommand = 0x74;

    explicit SynthResponder (Settings);

    /** Takes the next piece of incoming System Exclusive data and returns the replies to
        the messages that it completes, in order. An F0 abandons an unfinished message;
        bytes outside F0 ... F7 are dropped. */
    std::vector<Bytes> receive (const std::uint8_t* data, std::size_t size);

    /** Called with each complete message received, before it is answered. */
    std::function<void (const Bytes&)> onMessage;

    /** The version block carries the text and the model code; the bytes around them, which the
        updater does not read, carry a pattern with their top bits set. */
    static Bytes makeVersionReply (const std::string& versionText, std::uint32_t modelCode,
                                   std::uint8_t deviceByte = 0x00, std::uint8_t byte7 = 0x00);
    static Bytes makeAcknowledgement (std::uint8_t packetNumber, std::uint8_t status,
                                      std::uint8_t deviceByte = 0x00, std::uint8_t byte7 = 0x07);

    /** The acknowledgement of this packet, with its device byte, byte 7 and number. */
    static Bytes makePacketAcknowledgement (const Bytes& packet, std::uint8_t status);

    /** 8-to-7 packing: each group of up to seven bytes becomes a byte of their top
        bits (bit k for byte k) followed by their low seven bits. */
    static Bytes pack (const Bytes& data);

private:
    bool answer (const Bytes& message, Bytes& reply) const;

    Settings settings;
    Bytes pending;
    bool inMessage = false;
};
