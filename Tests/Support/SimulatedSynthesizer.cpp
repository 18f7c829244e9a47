#include "SimulatedSynthesizer.h"

#include <algorithm>

namespace
{
    constexpr juce::uint8 versionRequestCommand = 0x73;
    constexpr juce::uint8 firmwarePacketCommand = 0x71;

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
            schedule (versionReplyMessage (versionReply.versionText, versionReply.modelCode), versionReply.delayMs);
    }
    else if (packetIndex >= 0 && bytes.size() > 8)
    {
        const auto ack = acknowledge != nullptr ? acknowledge (packetIndex, bytes) : Acknowledgement();
        const auto number = ack.packetNumber < 0 ? bytes[8] : (juce::uint8) ack.packetNumber;

        if (! ack.silent)
            schedule (acknowledgementMessage (number, ack.status, ack.deviceByte, ack.byte7), ack.delayMs);
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

Bytes SimulatedSynthesizer::versionReplyMessage (const std::string& versionText, juce::uint32 modelCode,
                                                 juce::uint8 deviceByte, juce::uint8 byte7)
{
    // 56 packed bytes are 7 groups, 49 bytes unpacked: 20 the updater does not read,
    // the text field at 20-43, the model code at 44-47, and one more that it drops.
    Bytes block (49);

    for (size_t i = 0; i < block.size(); ++i)
        block[i] = (juce::uint8) (0xc0 | i);

    std::fill (block.begin() + 20, block.begin() + 44, (juce::uint8) 0);
    std::copy_n (versionText.begin(), std::min<size_t> (versionText.size(), 24), block.begin() + 20);

    for (size_t i = 0; i < 4; ++i)
        block[44 + i] = (juce::uint8) (modelCode >> (8 * i));

    Bytes message { 0xf0, 0x00, 0x7f, 0x7f, 0x20, deviceByte, 0x74, byte7 };
    const auto packed = FirmwareFileBuilder::pack (block);
    message.insert (message.end(), packed.begin(), packed.end());
    message.push_back (0xf7);
    return message;
}

Bytes SimulatedSynthesizer::acknowledgementMessage (juce::uint8 packetNumber, juce::uint8 status,
                                                    juce::uint8 deviceByte, juce::uint8 byte7)
{
    return { 0xf0, 0x00, 0x7f, 0x7f, 0x20, deviceByte, 0x72, byte7, packetNumber, status, 0xf7 };
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
