#pragma once

#include "FirmwareFileBuilder.h"
#include "MidiSender.h"
#include "Guest/SynthResponder.h"

#include <juce_audio_devices/juce_audio_devices.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

/**
    The synthesizer's firmware receiver, seen from the outside. The updater sends to
    it through the MIDI seam; it answers the version request and acknowledges each
    firmware packet as configured, in the guest responder's words, and feeds its
    replies into the collector from its own thread, as the platform's MIDI input
    thread would.

    Configure it before the transfer starts; read what it received at any time.
*/
class SimulatedSynthesizer : public MidiSender
{
public:
    struct VersionReply
    {
        std::string versionText = "1.1.0";
        juce::uint32 modelCode = 2;
        int delayMs = 0;
        bool silent = false;
    };

    struct Acknowledgement
    {
        juce::uint8 status = 1;
        int packetNumber = -1;      // -1 echoes the number of the packet received
        juce::uint8 deviceByte = 0x00;
        juce::uint8 byte7 = 0x07;
        int delayMs = 0;
        bool silent = false;

        static Acknowledgement withStatus (juce::uint8 status)  { Acknowledgement a; a.status = status; return a; }
        static Acknowledgement numbered (int packetNumber)      { Acknowledgement a; a.packetNumber = packetNumber; return a; }
        static Acknowledgement delayedBy (int ms)               { Acknowledgement a; a.delayMs = ms; return a; }
        static Acknowledgement none()                           { Acknowledgement a; a.silent = true; return a; }
    };

    explicit SimulatedSynthesizer (juce::MidiMessageCollector& collectorToFeed);
    ~SimulatedSynthesizer() override;

    VersionReply versionReply;

    /** Chooses the answer to the packet with this index (0 for the first received);
        by default every packet is accepted at once. */
    std::function<Acknowledgement (int packetIndex, const Bytes& packet)> acknowledge;

    /** Answers the packet with this index so, and accepts every other one at once. */
    void answerPacket (int packetIndex, Acknowledgement answer)
    {
        acknowledge = [packetIndex, answer] (int index, const Bytes&) { return index == packetIndex ? answer : Acknowledgement(); };
    }

    void answerEveryPacket (Acknowledgement answer)
    {
        acknowledge = [answer] (int, const Bytes&) { return answer; };
    }

    /** Called on the sender's thread with each message, before any reply is scheduled. */
    std::function<void (const Bytes& message)> onReceive;

    /** From now on replies wait, each until it is released. */
    void holdReplies();

    /** Lets every reply waiting now go out at its time; later ones wait again. */
    void releaseHeldReplies();

    /** Queues any message for the updater, as if the synthesizer had sent it. */
    void sendToUpdater (const Bytes& message, int delayMs = 0);

    void sendMessageNow (const juce::MidiMessage& message) override;

    std::vector<Bytes> received() const;
    std::vector<Bytes> packetsReceived() const;
    int versionRequestsReceived() const;
    int repliesDelivered() const;

    /** When each firmware packet arrived, in milliseconds of the high-resolution counter. */
    std::vector<double> packetArrivalTimes() const;

    /** Whether a message from the updater is the firmware packet with this number. */
    static bool isPacket (const Bytes& message, juce::uint8 packetNumber);

    bool waitForMessages (size_t count, int timeoutMs) const;
    bool waitForPackets (size_t count, int timeoutMs) const;

private:
    using Clock = std::chrono::steady_clock;

    struct PendingReply
    {
        Clock::time_point due;
        long sequence;
        Bytes message;
        bool released;
    };

    void schedule (const Bytes& message, int delayMs);
    void deliverReplies();
    bool waitFor (const std::function<bool()>& condition, int timeoutMs) const;

    juce::MidiMessageCollector& collector;

    mutable std::mutex lock;
    mutable std::condition_variable changed;
    std::vector<Bytes> messages;
    std::vector<double> packetTimes;
    std::vector<PendingReply> pending;
    long nextSequence = 0;
    int packetCount = 0;
    int packetsAnswered = 0;
    int versionRequests = 0;
    int delivered = 0;
    bool held = false;
    bool stopping = false;

    std::thread inputThread;
};
