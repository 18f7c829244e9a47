#include "UpdateThread.h"
#include "MidiOutputSender.h"
#include "UIComponent.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>

namespace
{
    constexpr unsigned char sysexStart = 0xf0;
    constexpr unsigned char sysexEnd = 0xf7;

    // A message of the protocol: its header, then the bytes given.
    template <size_t length>
    constexpr auto zorv12Message (const unsigned char (&afterHeader)[length])
    {
        std::array<unsigned char, sizeof (zorv12SysexHeader) + length> message {};

        for (size_t i = 0; i < sizeof (zorv12SysexHeader); ++i)
            message[i] = zorv12SysexHeader[i];

        for (size_t i = 0; i < length; ++i)
            message[sizeof (zorv12SysexHeader) + i] = afterHeader[i];

        return message;
    }

    constexpr auto versionRequestMessage = zorv12Message ({ 0x00, (unsigned char) SysexCommand::versionRequest, sysexEnd });

    constexpr int versionResponseSysexDataSize = 63;
    constexpr int versionPayloadOffset = 8;
    constexpr int versionPayloadPackedLength = 56;
    constexpr int responseSysexDataSize = 9;
    constexpr int collectorBlockLength = 1024;

    // The gate reads file bytes 9 to 88: the header packet's two packed blocks.
    constexpr int infoBlockOffset = 9;
    constexpr int infoBlockPackedLength = 24;
    constexpr int versionBlockOffset = 33;
    constexpr int versionBlockPackedLength = 56;
    constexpr long long headerBytesNeeded = versionBlockOffset + versionBlockPackedLength;

    constexpr juce::uint32 gatedModelCodes[] = { 2, 3 };
    constexpr juce::int64 minimumGatedVersion = 106;

    bool isDigit (char c)   { return c >= '0' && c <= '9'; }

    bool isDigitsOnly (const std::string& text)
    {
        return std::all_of (text.begin(), text.end(), isDigit);
    }

    // Decimal digits into an int, stopping at the largest int rather than overflowing.
    int saturatingValue (const std::string& digits)
    {
        constexpr auto largest = std::numeric_limits<int>::max();
        int value = 0;

        for (auto c : digits)
        {
            const auto digit = c - '0';

            if (value > (largest - digit) / 10)
                return largest;

            value = value * 10 + digit;
        }

        return value;
    }

    // One candidate of the version search, starting at the first digit p of s.
    bool versionCandidate (const std::string& s, size_t p, int& major, int& minor, int& patch)
    {
        const auto d1 = s.find ('.');

        if (d1 == std::string::npos || d1 == s.size() - 1)
            return false;

        const auto rest = s.substr (d1 + 1);

        if (! isDigit (rest.front()))
            return false;

        const auto d2 = rest.find ('.');

        if (d2 == std::string::npos)
            return false;

        const auto minorText = rest.substr (0, d2);

        // The patch ends at the first character of rest that is neither digit nor dot.
        // That character can lie inside the minor text, which then fails below.
        const auto patchEnd = rest.find_first_not_of ("0123456789.");
        const auto patchText = patchEnd == std::string::npos ? rest.substr (d2 + 1)
                             : patchEnd > d2                 ? rest.substr (d2 + 1, patchEnd - d2 - 1)
                                                             : std::string();

        const auto majorText = d1 < p ? s.substr (p) : s.substr (p, d1 - p);

        if (majorText.empty() || minorText.empty()
             || ! isDigitsOnly (majorText) || ! isDigitsOnly (minorText) || ! isDigitsOnly (patchText))
            return false;

        major = saturatingValue (majorText);
        minor = saturatingValue (minorText);
        patch = saturatingValue (patchText);

        return major != 0 || minor != 0 || patch != 0;
    }

    bool isFirmwarePacket (const unsigned char* packet, int length)
    {
        return length == firmwarePacketSize
            && packet[firmwarePacketSize - 1] == sysexEnd
            && std::memcmp (packet, zorv12SysexHeader, sizeof (zorv12SysexHeader)) == 0
            && (packet[7] & 0xfe) == 0x06
            && packet[6] == (unsigned char) SysexCommand::firmwareUpgradePacket;
    }

    juce::String statusText (unsigned char status)
    {
        switch ((FirmwareUpgradeStatus) status)
        {
            case FirmwareUpgradeStatus::crcFailed:     return "CRC Failed on Retry";
            case FirmwareUpgradeStatus::writeFailed:   return "Failed to write packet data on retry";
            case FirmwareUpgradeStatus::outOfSequence: return "Packet out of sequence on retry data ";
            case FirmwareUpgradeStatus::accepted:      break;
        }

        return "Unknown Error";
    }
}

//==============================================================================
UpdateThreadTask::UpdateThreadTask (juce::AudioDeviceManager& deviceManager,
                                    juce::File fileToSend,
                                    UIComponent* owner)
    : UpdateThreadTask (nullptr, owner->midiMessageCollector, fileToSend)
{
    if (auto* output = deviceManager.getDefaultMidiOutput())
    {
        defaultOutput = std::make_unique<MidiOutputSender> (*output);
        midiOutput = defaultOutput.get();
    }
}

UpdateThreadTask::UpdateThreadTask (MidiSender* output,
                                    juce::MidiMessageCollector& collector,
                                    const juce::File& fileToSend)
    : juce::ThreadWithProgressWindow ("Updating...", true, true, 10000, {}, nullptr),
      midiMessageCollector (collector),
      firmwareFile (fileToSend),
      midiOutput (output)
{
}

UpdateThreadTask::~UpdateThreadTask()
{
    // The base class would stop the thread only after our members are gone, while
    // run() may still be using them.
    stopThread (10000);
}

//==============================================================================
void UpdateThreadTask::run()
{
    startTime = juce::Time::getCurrentTime();
    transfer();
    endTime = juce::Time::getCurrentTime();
}

void UpdateThreadTask::transfer()
{
    juce::FileInputStream stream (firmwareFile);

    if (stream.getStatus().failed())
    {
        errorMessage = "Failed to open file";
        return;
    }

    if (midiOutput == nullptr)
    {
        errorMessage = "No MIDI Output device";
        return;
    }

    midiOutput->sendMessageNow (juce::MidiMessage (versionRequestMessage.data(), (int) versionRequestMessage.size(), 0.0));

    if (! waitForVersionResponse())
    {
        errorMessage = "Connection failed - Please check DeviceID is set to 1 on the GLOBAL menu";
        return;
    }

    const auto length = stream.getTotalLength();

    // The one read takes an int count, so a larger file cannot be read whole.
    if (length > std::numeric_limits<int>::max())
    {
        errorMessage = "Failed to read from file ";
        return;
    }

    juce::HeapBlock<unsigned char> data ((size_t) length);

    if (length > 0 && (data == nullptr || stream.read (data, (int) length) != (int) length))
    {
        errorMessage = "Failed to read from file ";
        return;
    }

    if (! checkVersionCompatibility (data, length))
    {
        errorMessage = "Incompatible version - Min version for KestrovaLXD & KestrovaS is 1.1.0 ";
        return;
    }

    long long spanStart = -1;
    int packetsSent = 0;

    for (long long i = 0; i < length; ++i)
    {
        if (data[i] == sysexStart)
        {
            spanStart = i;
        }
        else if (data[i] == sysexEnd)
        {
            setProgress ((double) i / (double) length);

            if (spanStart < 0 || i - spanStart + 1 == 2)
            {
                errorMessage = "Bad Sysex Stream";
                return;
            }

            if (! sendPacketAndWaitForResponse (data + spanStart, (int) (i - spanStart + 1)))
                return;

            ++packetsSent;
            spanStart = -1;
        }
    }

    // A file that held no packet has installed nothing; that is no success.
    if (packetsSent == 0)
        errorMessage = "Bad Sysex Stream";
}

//==============================================================================
unsigned short UpdateThreadTask::unpackSysexData (const unsigned char* source,
                                                  unsigned char* destination,
                                                  unsigned short sourceLength,
                                                  unsigned short destinationCapacity)
{
    const int groups = sourceLength / 8;

    for (int group = 0; group < groups; ++group)
    {
        const auto* packed = source + group * 8;

        for (int k = 0; k < 7; ++k)
        {
            const auto index = group * 7 + k;

            if (index < destinationCapacity)
                destination[index] = (unsigned char) ((((packed[0] >> k) & 1) << 7) | (packed[k + 1] & 0x7f));
        }
    }

    return (unsigned short) (groups * 7);
}

bool UpdateThreadTask::extractVersionNumber (std::string text, int& major, int& minor, int& patch)
{
    // Each failed candidate drops the text up to and including its first digit.
    for (auto s = std::move (text);; )
    {
        const auto firstDigit = std::find_if (s.begin(), s.end(), isDigit);

        if (firstDigit == s.end())
            return false;

        const auto p = (size_t) (firstDigit - s.begin());

        if (versionCandidate (s, p, major, minor, patch))
            return true;

        s.erase (0, p + 1);
    }
}

bool UpdateThreadTask::checkVersionCompatibility (unsigned char* fileData, long long length)
{
    // Too short to hold a header: the packet scan will find no whole packet in it.
    if (length < headerBytesNeeded)
        return true;

    FirmwareInfoData info {};
    FirmwareVersionData version {};
    unpackSysexData (fileData + infoBlockOffset, reinterpret_cast<unsigned char*> (&info),
                     infoBlockPackedLength, sizeof (info));
    unpackSysexData (fileData + versionBlockOffset, reinterpret_cast<unsigned char*> (&version),
                     versionBlockPackedLength, sizeof (version));

    if (info.skipVersionCheck != 0)
        return true;

    const auto* text = version.versionString;
    int major = 0, minor = 0, patch = 0;

    if (! extractVersionNumber (std::string (text, std::find (text, text + sizeof (version.versionString), '\0')),
                                major, minor, patch))
        return true;

    fileVersion = Cloud::SemanticVersion ((juce::uint8) major, (juce::uint8) minor, (juce::uint8) patch);

    if (std::find (std::begin (gatedModelCodes), std::end (gatedModelCodes), synthModelCode) == std::end (gatedModelCodes))
        return true;

    // 64 bits, so that absurdly long version numbers cannot overflow the sum.
    return (juce::int64) major * 100 + (juce::int64) minor * 10 + patch >= minimumGatedVersion;
}

//==============================================================================
bool UpdateThreadTask::pollForReply (int pollIntervalMs, int maxUnansweredPolls,
                                     const std::function<bool (const juce::MidiMessage&)>& matches)
{
    juce::MidiBuffer buffer;

    for (int unansweredPolls = 0;;)
    {
        // What is taken here and does not match is gone for good, like the rest
        // of the block behind a match.
        buffer.clear();
        midiMessageCollector.removeNextBlockOfMessages (buffer, collectorBlockLength);

        for (const auto metadata : buffer)
            if (matches (metadata.getMessage()))
                return true;

        if (++unansweredPolls > maxUnansweredPolls || threadShouldExit())
            return false;

        wait (pollIntervalMs);
    }
}

bool UpdateThreadTask::waitForVersionResponse()
{
    return pollForReply (versionResponsePollMs, versionResponseMaxPolls, [this] (const juce::MidiMessage& candidate)
    {
        if (! candidate.isSysEx()
             || candidate.getSysExDataSize() != versionResponseSysexDataSize
             || candidate.getRawData()[6] != (juce::uint8) SysexCommand::versionResponse)
            return false;

        VersionStringData block {};
        unpackSysexData (candidate.getRawData() + versionPayloadOffset, reinterpret_cast<unsigned char*> (&block),
                         versionPayloadPackedLength, sizeof (block));
        synthVersion = Cloud::SemanticVersion (block);
        synthModelCode = block.modelCode;
        return true;
    });
}

bool UpdateThreadTask::waitForResponse (FirmwareUpgradeResponse& expected, unsigned char& status, int timeoutMs)
{
    return pollForReply (responsePollMs, timeoutMs / responsePollMs,
                         [&] (const juce::MidiMessage& candidate)
    {
        const auto* reply = candidate.getRawData();

        if (! candidate.isSysEx()
             || candidate.getSysExDataSize() != responseSysexDataSize
             || std::memcmp (reply, expected.bytes.data(), sizeof (zorv12SysexHeader)) != 0
             || reply[6] != expected.bytes[6]
             || reply[8] != expected.bytes[8])
            return false;

        status = reply[9];
        return true;
    });
}

bool UpdateThreadTask::sendPacketAndWaitForResponse (unsigned char const* packet, int length)
{
    if (! isFirmwarePacket (packet, length))
    {
        errorMessage = "Cannot interpret packet";
        return false;
    }

    const auto packetNumber = packet[8];
    FirmwareUpgradeResponse expected { zorv12Message ({ 0x00, (unsigned char) SysexCommand::firmwareUpgradeResponse,
                                                        0x07, packetNumber,
                                                        (unsigned char) FirmwareUpgradeStatus::accepted }) };

    midiOutput->sendMessageNow (juce::MidiMessage (packet, length, 0.0));

    unsigned char status = 0;

    if (! waitForResponse (expected, status, packetNumber == 0 ? firstPacketTimeoutMs : packetTimeoutMs))
    {
        errorMessage = "Timed out waiting for retry response";
        return false;
    }

    if (status == (unsigned char) FirmwareUpgradeStatus::accepted)
        return true;

    errorMessage = statusText (status);
    return false;
}
