#include "SimulatedSynthesizer.h"

#include <algorithm>

namespace
{
    constexpr auto versionRequestCommand = SynthResponder::versionRequestCommand;
    constexpr auto firmwarePacketCommand = SynthResponder::firmwarePacketCommand;

    bool hasCommand (const Bytes& message, juce::uint8 command)
    {
        return message.size() > 6 && message.front() == 0xf0 && message[6] == command;
    }
}

SimulatedSynthesizer::SimulatedSynthesizer (juce::MidiMessageCollector& collectorToFeed)
    : collector (collectorToFeed),
      inputThread ([this] { deliverReplies(); })
{
}

SimulatedSynthesizer::~SimulatedSynthesizer()
{
    {
        const std::lock_guard<std::mutex> guard (lock);
        stopping = true;
    }

    changed.notify_all();
    inputThread.join();
}

void SimulatedSynthesizer::holdReplies()
{
    const std::lock_guard<std::mutex> guard (lock);
    held = true;
}

void SimulatedSynthesizer::releaseHeldReplies()
{
    {
        const std::lock_guard<std::mutex> guard (lock);

        for (auto& reply : pending)
            reply.released = true;
    }

    changed.notify_all();
}

void SimulatedSynthesizer::sendToUpdater (const Bytes& message, int delayMs)
{
    schedule (message, delayMs);
}

void SimulatedSynthesizer::sendMessageNow (const juce::MidiMessage& message)
{
    const auto* raw = message.getRawData();
    const Bytes bytes (raw, raw + message.getRawDataSize());
    const auto arrived = juce::Time::getMillisecondCounterHiRes();

    if (onReceive != nullptr)
        onReceive (bytes);

    int packetIndex = -1;

    {
        const std::lock_guard<std::mutex> guard (lock);

        if (hasCommand (bytes, firmwarePacketCommand))
            packetIndex = packetsAnswered++;
    }

    if (hasCommand (bytes, versionRequestCommand))
    {
        if (! versionReply.silent)
            schedule (SynthResponder::makeVersionReply (versionReply.versionText, versionReply.modelCode), versionReply.delayMs);
    }
    else if (packetIndex >= 0 && bytes.size() > 8)
    {
        const auto ack = acknowledge != nullptr ? acknowledge (packetIndex, bytes) : Acknowledgement();
        const auto number = ack.packetNumber < 0 ? bytes[8] : (juce::uint8) ack.packetNumber;

        if (! ack.silent)
            schedule (SynthResponder::makeAcknowledgement (number, ack.status, ack.deviceByte, ack.byte7), ack.delayMs);
    }

    // Seen from outside only once its reply waits to go out, so that a test which sees the
    // message can hold or release that reply.
    {
        const std::lock_guard<std::mutex> guard (lock);
        messages.push_back (bytes);

        if (hasCommand (bytes, versionRequestCommand))
        {
            ++versionRequests;
        }
        else if (packetIndex >= 0)
        {
            ++packetCount;
            packetTimes.push_back (arrived);
        }
    }

    changed.notify_all();
}

std::vector<Bytes> SimulatedSynthesizer::received() const
{
    const std::lock_guard<std::mutex> guard (lock);
    return messages;
}

std::vector<Bytes> SimulatedSynthesizer::packetsReceived() const
{
    const std::lock_guard<std::mutex> guard (lock);
    std::vector<Bytes> packets;
    std::copy_if (messages.begin(), messages.end(), std::back_inserter (packets),
                  [] (const Bytes& m) { return hasCommand (m, firmwarePacketCommand); });
    return packets;
}

int SimulatedSynthesizer::versionRequestsReceived() const
{
    const std::lock_guard<std::mutex> guard (lock);
    return versionRequests;
}

int SimulatedSynthesizer::repliesDelivered() const
{
    const std::lock_guard<std::mutex> guard (lock);
    return delivered;
}

std::vector<double> SimulatedSynthesizer::packetArrivalTimes() const
{
    const std::lock_guard<std::mutex> guard (lock);
    return packetTimes;
}

bool SimulatedSynthesizer::isPacket (const Bytes& message, juce::uint8 packetNumber)
{
    return hasCommand (message, firmwarePacketCommand) && message.size() > 8 && message[8] == packetNumber;
}

bool SimulatedSynthesizer::waitForMessages (size_t count, int timeoutMs) const
{
    return waitFor ([&] { return messages.size() >= count; }, timeoutMs);
}

bool SimulatedSynthesizer::waitForPackets (size_t count, int timeoutMs) const
{
    return waitFor ([&] { return (size_t) packetCount >= count; }, timeoutMs);
}

bool SimulatedSynthesizer::waitFor (const std::function<bool()>& condition, int timeoutMs) const
{
    std::unique_lock<std::mutex> guard (lock);
    return changed.wait_for (guard, std::chrono::milliseconds (timeoutMs), condition);
}

void SimulatedSynthesizer::schedule (const Bytes& message, int delayMs)
{
    {
        const std::lock_guard<std::mutex> guard (lock);
        pending.push_back ({ Clock::now() + std::chrono::milliseconds (delayMs), nextSequence++, message, ! held });
    }

    changed.notify_all();
}

void SimulatedSynthesizer::deliverReplies()
{
    std::unique_lock<std::mutex> guard (lock);

    while (! stopping)
    {
        // Replies leave in order of their times; a held one blocks those behind it,
        // as a device answers one message after another.
        const auto next = std::min_element (pending.begin(), pending.end(), [] (const auto& a, const auto& b)
        {
            return a.due != b.due ? a.due < b.due : a.sequence < b.sequence;
        });

        if (next == pending.end() || ! next->released)
        {
            changed.wait (guard);
            continue;
        }

        if (const auto due = next->due; due > Clock::now())
        {
            changed.wait_until (guard, due);
            continue;
        }

        const auto message = next->message;
        pending.erase (next);

        guard.unlock();
        collector.addMessageToQueue (juce::MidiMessage (message.data(), (int) message.size(),
                                                        juce::Time::getMillisecondCounterHiRes() * 0.001));
        guard.lock();

        ++delivered;
        changed.notify_all();
    }
}
