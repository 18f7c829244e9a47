// Usage: StalledService PORT PROGRAM [ARGUMENTS...]
//
// A firmware service that accepts every connection and never answers, for a program that
// runs in a network namespace of its own (unshare -n): brings that namespace's loopback
// interface up, listens on 127.0.0.1:PORT in a child process that holds every connection
// open without a word, then becomes PROGRAM, so that the process id stays the program's.
// The child ends with the program.

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace
{
    [[noreturn]] void fail (const char* what)
    {
        std::fprintf (stderr, "StalledService: %s: %s\n", what, std::strerror (errno));
        std::exit (2);
    }

    // A new network namespace has its loopback interface down.
    void bringLoopbackUp()
    {
        const int control = socket (AF_INET, SOCK_DGRAM, 0);

        if (control < 0)
            fail ("socket");

        ifreq request {};
        std::strncpy (request.ifr_name, "lo", IFNAMSIZ - 1);

        if (ioctl (control, SIOCGIFFLAGS, &request) < 0)
            fail ("reading the flags of lo");

        request.ifr_flags = (short) (request.ifr_flags | IFF_UP);

        if (ioctl (control, SIOCSIFFLAGS, &request) < 0)
            fail ("bringing lo up");

        close (control);
    }

    int listenOn (int port)
    {
        const int listener = socket (AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);

        if (listener < 0)
            fail ("socket");

        const int yes = 1;
        setsockopt (listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof (yes));

        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_port = htons ((uint16_t) port);
        address.sin_addr.s_addr = htonl (INADDR_LOOPBACK);

        if (bind (listener, reinterpret_cast<sockaddr*> (&address), sizeof (address)) < 0)
            fail ("bind");

        if (listen (listener, 16) < 0)
            fail ("listen");

        return listener;
    }

    [[noreturn]] void holdEveryConnection (int listener, pid_t program)
    {
        // Ends when the program does, however it ends.
        if (prctl (PR_SET_PDEATHSIG, SIGKILL) < 0)
            fail ("prctl");

        if (getppid() != program)
            std::_Exit (0);

        std::vector<int> held;

        for (;;)
        {
            const int connection = accept (listener, nullptr, nullptr);

            if (connection >= 0)
                held.push_back (connection);
        }
    }
}

int main (int argc, char** argv)
{
    if (argc < 3)
    {
        std::fprintf (stderr, "usage: StalledService PORT PROGRAM [ARGUMENTS...]\n");
        return 2;
    }

    bringLoopbackUp();
    const int listener = listenOn (std::atoi (argv[1]));
    const pid_t program = getpid();

    const pid_t child = fork();

    if (child < 0)
        fail ("fork");

    if (child == 0)
        holdEveryConnection (listener, program);

    // The listener is already listening: a connection made from now on waits for the child.
    execvp (argv[2], argv + 2);
    fail ("exec");
}
