/* Asks a JQ or VN card on a serial line the same query N times and counts the
 * replies that reached read() in more than one piece. On a 16550 with its
 * receive FIFO trigger at 8 bytes, a 10-byte reply raises one interrupt for
 * its first 8 bytes and another, a few character times later, for the last
 * 2; a program that takes one read() for the whole reply gets 8 bytes.
 * Usage: probe DEVICE N. Built static, so that it needs nothing in the guest.
 * "probe -- COMMAND..." runs the command with SIGINT as a terminal would
 * deliver it: the shell starts a background command with it ignored. */
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

int main(int argc, char **argv)
{
    /* Query of the frequency of channel 1: header, query, code 2, four value
     * bytes, channel, XOR of bytes 1..7, tail. Both families answer it. */
    static const unsigned char query[10] = {0xfe, 0x01, 0x02, 0, 0, 0, 0, 0x01, 0x02, 0xfa};
    if (argc > 2 && argv[1][0] == '-' && argv[1][1] == '-') {
        signal(SIGINT, SIG_DFL);
        execvp(argv[2], argv + 2);
        return 127;
    }
    if (argc != 3)
        return 2;
    int fd = open(argv[1], O_RDWR | O_NOCTTY);
    struct termios t;
    if (fd < 0 || tcgetattr(fd, &t) != 0) {
        perror(argv[1]);
        return 2;
    }
    cfmakeraw(&t);
    cfsetspeed(&t, B115200);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    tcsetattr(fd, TCSANOW, &t);

    /* At least N queries; more, up to ten times N, until one reply came in
     * pieces: whether the guest's CPU is slow enough at that moment for the
     * tail to wait in the FIFO depends on the host. */
    int n = atoi(argv[2]), pieces = 0, short_replies = 0, i;
    for (i = 0; i < n || (pieces == 0 && i < 10 * n); ++i) {
        tcflush(fd, TCIFLUSH);
        if (write(fd, query, sizeof query) != sizeof query) {
            perror("write");
            return 2;
        }
        /* Collect until 10 bytes, or 5 s without a byte (a bound for a card
         * that does not answer; an emulated guest on a busy host can stall). */
        unsigned char buf[64];
        int got = 0, reads = 0;
        struct pollfd p = {fd, POLLIN, 0};
        while (got < 10 && poll(&p, 1, 5000) == 1) {
            ssize_t r = read(fd, buf + got, sizeof buf - got);
            if (r <= 0)
                break;
            got += r;
            ++reads;
        }
        pieces += reads > 1;
        short_replies += got != 10;
    }
    printf("pieces: %d of %d (incomplete: %d)\n", pieces, i, short_replies);
    return 0;
}
