// The whole transfer over a real ALSA sequencer port, through the production code:
// the panel opens the MIDI devices and picks the synthesizer's ports by name, the
// update task sends through the device manager's default output, and JUCE's MIDI
// input thread queues the replies into the panel's collector. The synthesizer is
// GuestSynthResponder, started afresh for each case. Runs inside the guest machine
// (run-in-guest.sh), under an X server for the progress window.

#include "Support/FirmwareFileBuilder.h"
#include "Support/MessageThreadFixture.h"
#include "Support/ScopedServiceAddress.h"
#include "Support/XlibForTests.h"
#include "UIComponent.h"
#include "UpdateThread.h"

#include <algorithm>
#include <iostream>
#include <memory>

namespace
{
    const Bytes versionRequest { 0xf0, 0x00, 0x7f, 0x7f, 0x20, 0x00, 0x73, 0xf7 };

    const std::string synthVersionText = "1.2.3";
    const juce::String gatedModelCode = "2";
    const std::string fileVersionText = "1.1.0";

    Bytes operator+ (Bytes a, const Bytes& b)
    {
        a.insert (a.end(), b.begin(), b.end());
        return a;
    }

    juce::String describe (const juce::Array<juce::MidiDeviceInfo>& ports)
    {
        juce::StringArray entries;

        for (const auto& port : ports)
            entries.add ("\"" + port.name + "\" (" + port.identifier + ")");

        return entries.isEmpty() ? "none" : entries.joinIntoString (", ");
    }

    juce::String identifierOf (const juce::Array<juce::MidiDeviceInfo>& ports, const juce::String& name)
    {
        for (const auto& port : ports)
            if (port.name == name)
                return port.identifier;

        return {};
    }

    /** How many of the file's packets the synthesizer received, unchanged and in order,
        after the version request. The file holds nothing but packets. */
    int packetsReceivedInOrder (const Bytes& received, const Bytes& file)
    {
        if (received.size() < versionRequest.size()
            || ! std::equal (versionRequest.begin(), versionRequest.end(), received.begin()))
            return 0;

        const Bytes afterRequest (received.begin() + (long) versionRequest.size(), received.end());
        const auto packetSize = (size_t) firmwarePacketSize;
        int count = 0;

        for (size_t at = 0; at + packetSize <= std::min (file.size(), afterRequest.size()); at += packetSize)
        {
            if (! std::equal (file.begin() + (long) at, file.begin() + (long) (at + packetSize),
                              afterRequest.begin() + (long) at))
                break;

            ++count;
        }

        return count;
    }

    struct Outcome
    {
        std::string errorMessage, synthVersion, fileVersion;
        double seconds = 0;
    };
}

class GuestTransfer : public MessageThreadFixture
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE (juce::File ("/dev/snd/seq").exists())
            << "no ALSA sequencer here: run this through Tests/Guest/run-in-guest.sh";
        ASSERT_TRUE (folder.createDirectory().wasOk());
        prepareXlibForTests();
    }

    void TearDown() override
    {
        panel = nullptr;

        if (responder.isRunning())
            responder.kill();

        folder.deleteRecursively();
    }

    /** Starts the stand-in synthesizer and waits until its port exists. */
    void startSynthesizer (const juce::StringArray& options)
    {
        juce::StringArray command { GUEST_SYNTH_RESPONDER, "--record", recordFile().getFullPathName(),
                                    "--ready", readyFile().getFullPathName() };
        command.addArray (options);

        ASSERT_TRUE (responder.start (command)) << "cannot start " << GUEST_SYNTH_RESPONDER;

        if (! pumpUntil ([this] { return readyFile().exists() || ! responder.isRunning(); }, 20000)
            || ! readyFile().exists())
        {
            responder.kill();
            FAIL() << "the synthesizer's port did not appear: " << responder.readAllProcessOutput();
        }
    }

    /** Builds the panel as the main window does, after the synthesizer is there, and
        checks that it took the synthesizer's ports. */
    void openPanel()
    {
        const auto inputs = juce::MidiInput::getAvailableDevices();
        const auto outputs = juce::MidiOutput::getAvailableDevices();
        std::cout << "MIDI inputs listed by JUCE: " << describe (inputs) << "\n"
                  << "MIDI outputs listed by JUCE: " << describe (outputs) << std::endl;

        panel = std::make_unique<UIComponent>();

        const auto input = identifierOf (inputs, "KestrovaLX");
        const auto output = identifierOf (outputs, "KestrovaLX");
        ASSERT_TRUE (input.isNotEmpty() && output.isNotEmpty()) << "JUCE does not list the synthesizer's port";
        EXPECT_TRUE (panel->deviceManager.isMidiInputDeviceEnabled (input));
        ASSERT_EQ (panel->deviceManager.getDefaultMidiOutputIdentifier(), output);
        ASSERT_NE (panel->deviceManager.getDefaultMidiOutput(), nullptr);
        std::cout << "The panel chose input " << input << " and output " << output << std::endl;
    }

    /** Runs one transfer as the update flow does: a task built on the panel, run under
        its progress window. */
    Outcome transfer (const juce::File& file)
    {
        UpdateThreadTask task (panel->deviceManager, file, panel.get());

        const auto started = juce::Time::getMillisecondCounterHiRes();
        task.runThread (juce::Thread::Priority::normal);

        return { task.errorMessage.toStdString(), task.synthVersion.toString().toStdString(),
                 task.fileVersion.toString().toStdString(),
                 (juce::Time::getMillisecondCounterHiRes() - started) / 1000.0 };
    }

    /** What the synthesizer received, once it has been stopped. */
    Bytes stopSynthesizer()
    {
        EXPECT_TRUE (responder.isRunning()) << "the synthesizer ended early: " << responder.readAllProcessOutput();
        responder.kill();

        juce::MemoryBlock block;
        recordFile().loadFileAsData (block);
        const auto* data = static_cast<const juce::uint8*> (block.getData());
        return Bytes (data, data + block.getSize());
    }

    juce::File firmwareFile (const Bytes& bytes) const
    {
        return FirmwareFileBuilder().append (bytes).writeTo (folder.getChildFile ("firmware.syx"));
    }

    juce::File recordFile() const   { return folder.getChildFile ("received.bin"); }
    juce::File readyFile() const    { return folder.getChildFile ("ready"); }

    const juce::File folder { juce::File::getSpecialLocation (juce::File::tempDirectory)
                                  .getChildFile ("GuestTransfer-" + juce::Uuid().toString()) };
    juce::ChildProcess responder;
    // The panel asks for the firmware list as it opens; nothing listens here, so it is
    // refused at once and the transfer is all that runs.
    Cloud::ScopedServiceAddress serviceAddress { juce::URL ("http://127.0.0.1:9/api/v1/") };
    std::unique_ptr<UIComponent> panel;
};

TEST_F (GuestTransfer, SendsEveryPacketUnchangedAndInOrder)
{
    constexpr int dataPackets = 24;
    auto builder = FirmwareFileBuilder().header (fileVersionText);

    for (int i = 1; i <= dataPackets; ++i)
        builder.packet ((juce::uint8) i);

    ASSERT_NO_FATAL_FAILURE (startSynthesizer ({ "--version", synthVersionText.c_str(), "--model-code", gatedModelCode }));
    ASSERT_NO_FATAL_FAILURE (openPanel());
    const auto outcome = transfer (firmwareFile (builder.bytes()));
    const auto received = stopSynthesizer();

    const auto packets = packetsReceivedInOrder (received, builder.bytes());
    std::cout << "Transfer: " << packets << " of " << dataPackets + 1 << " packets (" << builder.bytes().size()
              << " bytes in the file) received unchanged and in order, in " << juce::String (outcome.seconds, 2)
              << " s (" << juce::String (packets / outcome.seconds, 1) << " packets/s); error text \""
              << outcome.errorMessage << "\"" << std::endl;

    EXPECT_EQ (outcome.errorMessage, "");
    EXPECT_EQ (outcome.synthVersion, synthVersionText);
    EXPECT_EQ (outcome.fileVersion, fileVersionText);
    EXPECT_EQ (packets, dataPackets + 1);
    EXPECT_EQ (received.size(), versionRequest.size() + builder.bytes().size());
    EXPECT_TRUE (received == versionRequest + builder.bytes())
        << "the synthesizer did not receive the version request followed by the file, byte for byte";
}

TEST_F (GuestTransfer, ACrcFailureStopsAtTheFirstPacket)
{
    const auto file = FirmwareFileBuilder().header (fileVersionText).packet (1).packet (2);

    ASSERT_NO_FATAL_FAILURE (startSynthesizer ({ "--version", synthVersionText.c_str(), "--model-code", gatedModelCode, "--status", "0" }));
    ASSERT_NO_FATAL_FAILURE (openPanel());
    const auto outcome = transfer (firmwareFile (file.bytes()));
    const auto received = stopSynthesizer();

    std::cout << "Status 0: \"" << outcome.errorMessage << "\" after " << juce::String (outcome.seconds, 2) << " s"
              << std::endl;

    EXPECT_EQ (outcome.errorMessage, "CRC Failed on Retry");
    EXPECT_EQ (outcome.synthVersion, synthVersionText);
    EXPECT_TRUE (received == versionRequest + FirmwareFileBuilder::headerPacket (fileVersionText))
        << "the synthesizer should have received the version request and the header packet only";
}

TEST_F (GuestTransfer, ASilentSynthesizerFailsTheConnection)
{
    const auto file = FirmwareFileBuilder().header (fileVersionText).packet (1);

    ASSERT_NO_FATAL_FAILURE (startSynthesizer ({ "--silent" }));
    ASSERT_NO_FATAL_FAILURE (openPanel());
    const auto outcome = transfer (firmwareFile (file.bytes()));
    const auto received = stopSynthesizer();

    std::cout << "Silent: \"" << outcome.errorMessage << "\" after " << juce::String (outcome.seconds, 2) << " s"
              << std::endl;

    EXPECT_EQ (outcome.errorMessage, "Connection failed - Please check DeviceID is set to 1 on the GLOBAL menu");
    EXPECT_EQ (outcome.synthVersion, "0.0.0");
    EXPECT_TRUE (received == versionRequest) << "only the version request should have been sent";
}
