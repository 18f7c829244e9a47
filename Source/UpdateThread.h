#pragma once

#include "Cloud/SemanticVersion.h"
#include "Cloud/SynthId.h"
#include "MidiSender.h"

#include <juce_audio_devices/juce_audio_devices.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include <array>
#include <functional>
#include <memory>
#include <string>

class UIComponent;

//==============================================================================
// The synthesizer's System Exclusive protocol. Every message the updater sends,
// and every acknowledgement it accepts, starts with this header; byte 5 is a
// device byte and byte 6 the command.
inline constexpr unsigned char zorv12SysexHeader[] = { 0xf0, 0x00, 0x7f, 0x7f, 0x20 };

enum class SysexCommand : unsigned char
{
    firmwareUpgradePacket   = 0x71,
    firmwareUpgradeResponse = 0x72,
    versionRequest          = 0x73,
    versionResponse         = 0x74
};

/** The status byte of a packet acknowledgement; any other value is an unknown error. */
enum class FirmwareUpgradeStatus : unsigned char
{
    crcFailed     = 0,
    accepted      = 1,
    writeFailed   = 2,
    outOfSequence = 3
};

constexpr int firmwarePacketSize = 290;

constexpr int versionResponsePollMs   = 40;
constexpr int versionResponseMaxPolls = 125;
constexpr int responsePollMs          = 10;
constexpr int firstPacketTimeoutMs    = 60000;
constexpr int packetTimeoutMs         = 6000;

/** The acknowledgement that an accepted packet would get; only bytes 0-4, 6 and 8
    are compared with what comes back. */
struct FirmwareUpgradeResponse
{
    std::array<unsigned char, 10> bytes;
};

/** The first block of a firmware file's header packet, once unpacked. */
struct FirmwareInfoData
{
    juce::uint8 unused[8];

    /** Non-zero lets the file past the version gate unread. Little-endian on the wire. */
    juce::uint32 skipVersionCheck;

    juce::uint8 unused2[8];
};

/** The second block of a firmware file's header packet, once unpacked. */
struct FirmwareVersionData
{
    juce::uint8 unused[16];

    /** The firmware's version as text; it ends at its first zero byte or at the block's end. */
    char versionString[32];
};

static_assert (sizeof (FirmwareInfoData) == 20, "the info block is 20 bytes");
static_assert (offsetof (FirmwareInfoData, skipVersionCheck) == 8, "the skip flag starts at byte 8");
static_assert (sizeof (FirmwareVersionData) == 48, "the version block is 48 bytes");

//==============================================================================
/**
    One firmware transfer, run under a modal progress window: asks the synthesizer
    for its version, applies the version gate to the file's header packet, then
    sends the file's System Exclusive packets one at a time, each acknowledged
    before the next.

    After runThread() has returned, errorMessage is empty for success or holds the
    reason the transfer stopped.
*/
class UpdateThreadTask final : public juce::ThreadWithProgressWindow
{
public:
    /** The panel's transfer: sends through the device manager's default MIDI output
        as it is now and reads the synthesizer's replies from the panel's collector. */
    UpdateThreadTask (juce::AudioDeviceManager& deviceManager,
                      juce::File fileToSend,
                      UIComponent* owner);

    /** Sends through the given output, which must outlive the task; null means
        there is no output. */
    UpdateThreadTask (MidiSender* output,
                      juce::MidiMessageCollector& collector,
                      const juce::File& fileToSend);

    ~UpdateThreadTask() override;

    void run() override;

    /** Unpacks whole groups of eight packed bytes into seven each, writing only
        below the capacity; returns the unpacked length even where it was cut short. */
    static unsigned short unpackSysexData (const unsigned char* source,
                                           unsigned char* destination,
                                           unsigned short sourceLength,
                                           unsigned short destinationCapacity);

    /** Finds a major.minor.patch number in a free text; false when there is none. */
    static bool extractVersionNumber (std::string text, int& major, int& minor, int& patch);

    // Written by the transfer thread only; read them once runThread() has returned.
    juce::String errorMessage;
    Cloud::SemanticVersion fileVersion;
    Cloud::SemanticVersion synthVersion;
    juce::uint32 synthModelCode = 0;
    UuidData synthId {};
    juce::Time startTime;
    juce::Time endTime;

private:
    void transfer();
    bool waitForVersionResponse();
    bool waitForResponse (FirmwareUpgradeResponse& expected, unsigned char& status, int timeoutMs);
    bool sendPacketAndWaitForResponse (unsigned char const* packet, int length);
    bool checkVersionCompatibility (unsigned char* fileData, long long length);
    bool pollForReply (int pollIntervalMs, int maxUnansweredPolls,
                       const std::function<bool (const juce::MidiMessage&)>& matches);

    juce::MidiMessageCollector& midiMessageCollector;
    juce::File firmwareFile;
    std::unique_ptr<MidiSender> defaultOutput;
    MidiSender* midiOutput = nullptr;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (UpdateThreadTask)
};
