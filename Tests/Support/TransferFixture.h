#pragma once

#include "MessageThreadFixture.h"
#include "SimulatedSynthesizer.h"
#include "UpdateThread.h"
#include "XlibForTests.h"

#include <memory>

/**
    A collector reset as the panel resets it, the simulated synthesizer feeding it,
    and a scratch folder for firmware files. Runs the task's own thread body without
    showing its progress window; the window is still made, so a display is needed.
*/
class TransferFixture : public MessageThreadFixture
{
protected:
    TransferFixture()
    {
        prepareXlibForTests();
        collector.reset (44100.0);
        folder.createDirectory();
    }

    ~TransferFixture() override
    {
        folder.deleteRecursively();
    }

    juce::File fileWith (const Bytes& bytes, const juce::String& name = "firmware.syx") const
    {
        return FirmwareFileBuilder().append (bytes).writeTo (folder.getChildFile (name));
    }

    juce::File fileWith (const FirmwareFileBuilder& builder, const juce::String& name = "firmware.syx") const
    {
        return fileWith (builder.bytes(), name);
    }

    std::unique_ptr<UpdateThreadTask> taskFor (const juce::File& file)
    {
        return std::make_unique<UpdateThreadTask> (&synth, collector, file);
    }

    /** Starts the task's thread and waits for its run to end. */
    static void runToEnd (UpdateThreadTask& task, int timeoutMs = 30000)
    {
        task.startThread();
        ASSERT_TRUE (task.waitForThreadToExit (timeoutMs)) << "the transfer did not end";
    }

    /** Builds the file, runs a whole transfer and hands back the finished task. */
    std::unique_ptr<UpdateThreadTask> transfer (const Bytes& fileBytes)
    {
        auto task = taskFor (fileWith (fileBytes));
        runToEnd (*task);
        return task;
    }

    std::unique_ptr<UpdateThreadTask> transfer (const FirmwareFileBuilder& builder)
    {
        return transfer (builder.bytes());
    }

    /** A header the gate lets through, followed by the numbered packets. */
    static FirmwareFileBuilder firmwareWithPackets (int dataPackets)
    {
        FirmwareFileBuilder builder;
        builder.header ("1.1.0");

        for (int i = 1; i <= dataPackets; ++i)
            builder.packet ((juce::uint8) i);

        return builder;
    }

    juce::MidiMessageCollector collector;
    SimulatedSynthesizer synth { collector };
    const juce::File folder { juce::File::getSpecialLocation (juce::File::tempDirectory)
                                  .getChildFile ("TransferTest-" + juce::Uuid().toString()) };
};
