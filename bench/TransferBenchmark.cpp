// Sends a firmware file of 1000 packets (or as many as the first argument says) to
// the simulated synthesizer, which answers every message at once, and prints how
// fast the transfer went and how much processor time it took.

#include "Support/FirmwareFileBuilder.h"
#include "Support/SimulatedSynthesizer.h"
#include "Support/XlibForTests.h"
#include "UpdateThread.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <sys/resource.h>

namespace
{
    double threadCpuSeconds()
    {
        timespec t {};
        clock_gettime (CLOCK_THREAD_CPUTIME_ID, &t);
        return (double) t.tv_sec + (double) t.tv_nsec * 1.0e-9;
    }

    double processCpuSeconds()
    {
        rusage usage {};
        getrusage (RUSAGE_SELF, &usage);
        return (double) (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
                 + (double) (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1.0e-6;
    }

    double median (std::vector<double> values)
    {
        std::sort (values.begin(), values.end());
        const auto n = values.size();
        return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
    }
}

int main (int argc, char** argv)
{
    const int packets = argc > 1 ? std::max (2, std::atoi (argv[1])) : 1000;

    prepareXlibForTests();
    juce::ScopedJuceInitialiser_GUI juce;

    juce::MidiMessageCollector collector;
    collector.reset (44100.0);
    SimulatedSynthesizer synth (collector);

    // The transfer thread is the one that calls the synthesizer: its own processor
    // clock is read there, at the version request and at every packet.
    double transferCpuAtStart = 0.0, transferCpuAtLastPacket = 0.0;
    double wallAtStart = 0.0, wallAtLastPacket = 0.0;

    synth.onReceive = [&] (const Bytes& message)
    {
        const auto cpu = threadCpuSeconds();
        const auto wall = juce::Time::getMillisecondCounterHiRes() * 0.001;

        if (message[6] == 0x73)
        {
            transferCpuAtStart = cpu;
            wallAtStart = wall;
        }
        else
        {
            transferCpuAtLastPacket = cpu;
            wallAtLastPacket = wall;
        }
    };

    FirmwareFileBuilder firmware;
    firmware.header ("1.1.0");

    for (int i = 1; i < packets; ++i)
        firmware.packet ((juce::uint8) (1 + (i - 1) % 127));

    const juce::TemporaryFile file (".syx");
    firmware.writeTo (file.getFile());

    UpdateThreadTask task (&synth, collector, file.getFile());

    const auto processCpuBefore = processCpuSeconds();
    const auto started = juce::Time::getMillisecondCounterHiRes();
    task.startThread();

    if (! task.waitForThreadToExit (packets * 1000))
    {
        std::printf ("the transfer did not end\n");
        return 1;
    }

    const auto wallSeconds = (juce::Time::getMillisecondCounterHiRes() - started) * 0.001;
    const auto processCpu = processCpuSeconds() - processCpuBefore;

    const auto arrivals = synth.packetArrivalTimes();
    std::vector<double> perPacket;

    for (size_t i = 1; i < arrivals.size(); ++i)
        perPacket.push_back (arrivals[i] - arrivals[i - 1]);

    const auto transferCpu = transferCpuAtLastPacket - transferCpuAtStart;
    const auto transferWall = wallAtLastPacket - wallAtStart;

    std::printf ("Transfer of %d packets (%zu bytes) to a synthesizer answering at once\n",
                 packets, firmware.bytes().size());
    std::printf ("  result                %s\n", task.errorMessage.isEmpty() ? "success" : task.errorMessage.toRawUTF8());
    std::printf ("  packets received      %zu\n", arrivals.size());
    std::printf ("  wall time             %.2f s\n", wallSeconds);
    std::printf ("  packets per second    %.1f\n", (double) arrivals.size() / wallSeconds);
    std::printf ("  median per packet     %.2f ms (fastest %.2f ms, slowest %.2f ms)\n",
                 median (perPacket),
                 *std::min_element (perPacket.begin(), perPacket.end()),
                 *std::max_element (perPacket.begin(), perPacket.end()));
    std::printf ("  transfer thread CPU   %.3f s of %.2f s wall (%.2f %%)\n",
                 transferCpu, transferWall, 100.0 * transferCpu / transferWall);
    std::printf ("  whole process CPU     %.3f s of %.2f s wall (%.2f %%)\n",
                 processCpu, wallSeconds, 100.0 * processCpu / wallSeconds);

    return task.errorMessage.isEmpty() ? 0 : 1;
}
