// A stand-in synthesizer on the ALSA sequencer: one client with one duplex port,
// both named "KestrovaLX", that answers the updater as the synthesizer would and
// records every System Exclusive message it receives.
//
//   GuestSynthResponder [--version TEXT] [--model-code N] [--status N] [--silent]
//                       [--record FILE] [--ready FILE]
//
// --record appends each received message, raw, to FILE as soon as it is complete,
// so the file is whole even when the responder is killed. --ready creates FILE
// once the port exists. SIGTERM or SIGINT ends the responder.

#include "SynthResponder.h"

#include <alsa/asoundlib.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <string>
#include <unistd.h>

namespace
{
    constexpr const char* portName = "KestrovaLX";

    volatile std::sig_atomic_t stopRequested = 0;

    void requestStop (int)
    {
        stopRequested = 1;
    }

    [[noreturn]] void fail (const std::string& message)
    {
        std::fprintf (stderr, "GuestSynthResponder: %s\n", message.c_str());
        std::exit (2);
    }

    unsigned long parseNumber (const std::string& text, unsigned long maximum, const char* option)
    {
        char* end = nullptr;
        errno = 0;
        const auto value = std::strtoul (text.c_str(), &end, 0);

        if (text.empty() || *end != '\0' || errno != 0 || value > maximum)
            fail (std::string ("bad value for ") + option + ": " + text);

        return value;
    }

    void writeAll (int fd, const std::uint8_t* data, std::size_t size)
    {
        while (size > 0)
        {
            const auto written = ::write (fd, data, size);

            if (written < 0 && errno == EINTR)
                continue;

            if (written <= 0)
                fail (std::string ("cannot write the record: ") + std::strerror (errno));

            data += written;
            size -= (std::size_t) written;
        }
    }

    void send (snd_seq_t* seq, int port, const SynthResponder::Bytes& message)
    {
        snd_seq_event_t event;
        snd_seq_ev_clear (&event);
        snd_seq_ev_set_source (&event, port);
        snd_seq_ev_set_subs (&event);
        snd_seq_ev_set_direct (&event);
        snd_seq_ev_set_sysex (&event, (unsigned int) message.size(), const_cast<std::uint8_t*> (message.data()));

        if (const auto result = snd_seq_event_output_direct (seq, &event); result < 0)
            fail (std::string ("cannot send a reply: ") + snd_strerror (result));
    }
}

int main (int argc, char** argv)
{
    SynthResponder::Settings settings;
    std::string recordPath, readyPath;

    for (int i = 1; i < argc; ++i)
    {
        const std::string option (argv[i]);
        const auto value = [&]
        {
            if (i + 1 >= argc)
                fail ("missing value for " + option);

            return std::string (argv[++i]);
        };

        if (option == "--version")         settings.versionText = value();
        else if (option == "--model-code") settings.modelCode = (std::uint32_t) parseNumber (value(), 0xffffffffu, "--model-code");
        else if (option == "--status")     settings.packetStatus = (std::uint8_t) parseNumber (value(), 0xff, "--status");
        else if (option == "--silent")     settings.silent = true;
        else if (option == "--record")     recordPath = value();
        else if (option == "--ready")      readyPath = value();
        else                               fail ("unknown option " + option);
    }

    struct sigaction action {};
    action.sa_handler = requestStop;
    sigemptyset (&action.sa_mask);
    sigaction (SIGTERM, &action, nullptr);
    sigaction (SIGINT, &action, nullptr);

    int recordFile = -1;

    if (! recordPath.empty())
    {
        recordFile = ::open (recordPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);

        if (recordFile < 0)
            fail ("cannot create " + recordPath + ": " + std::strerror (errno));
    }

    try
    {
        SynthResponder responder (settings);

        if (recordFile >= 0)
            responder.onMessage = [recordFile] (const SynthResponder::Bytes& message)
            {
                writeAll (recordFile, message.data(), message.size());
            };

        snd_seq_t* seq = nullptr;

        if (const auto result = snd_seq_open (&seq, "default", SND_SEQ_OPEN_DUPLEX, 0); result < 0)
            fail (std::string ("cannot open the ALSA sequencer: ") + snd_strerror (result));

        snd_seq_set_client_name (seq, portName);

        const auto port = snd_seq_create_simple_port (seq, portName,
                                                      SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ
                                                        | SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE
                                                        | SND_SEQ_PORT_CAP_DUPLEX,
                                                      SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
        if (port < 0)
            fail (std::string ("cannot create the port: ") + snd_strerror (port));

        std::printf ("GuestSynthResponder: port \"%s\" is %d:%d\n", portName, snd_seq_client_id (seq), port);
        std::fflush (stdout);

        if (! readyPath.empty())
        {
            const auto ready = ::open (readyPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);

            if (ready < 0)
                fail ("cannot create " + readyPath + ": " + std::strerror (errno));

            ::close (ready);
        }

        while (stopRequested == 0)
        {
            snd_seq_event_t* event = nullptr;
            const auto result = snd_seq_event_input (seq, &event);

            if (result == -EINTR || result == -EAGAIN)
                continue;

            if (result == -ENOSPC)
                fail ("the sequencer's input pool overflowed: events were lost");

            if (result < 0)
                fail (std::string ("cannot read from the sequencer: ") + snd_strerror (result));

            if (event->type != SND_SEQ_EVENT_SYSEX)
                continue;

            for (const auto& reply : responder.receive (static_cast<const std::uint8_t*> (event->data.ext.ptr),
                                                        event->data.ext.len))
                send (seq, port, reply);
        }

        snd_seq_close (seq);
    }
    catch (const std::exception& e)
    {
        fail (e.what());
    }

    if (recordFile >= 0)
        ::close (recordFile);

    return 0;
}
