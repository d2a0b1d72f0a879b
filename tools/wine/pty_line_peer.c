/* The far end of a serial line for the Win32 device's unit tests under Wine:
 * a pseudo-terminal, linked at PATH, that the test's prefix maps to a COM
 * port. Each byte N the program under test writes orders N bytes "abc...",
 * the first at once, then one every 200 ms: a line that never goes quiet for
 * the read's 250 ms gap. Runs until it is killed.
 *
 *   gcc -O2 -o pty_line_peer pty_line_peer.c -lutil
 *   pty_line_peer PATH
 */
#define _GNU_SOURCE
#include <errno.h>
#include <pty.h>
#include <stdio.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

int main(int argc, char** argv) {
  int master = -1;
  int slave = -1;
  char name[128];
  struct termios raw;
  if (argc != 2) {
    fprintf(stderr, "usage: %s PATH\n", argv[0]);
    return 64;
  }
  if (openpty(&master, &slave, name, NULL, NULL) != 0) {
    perror("openpty");
    return 1;
  }
  /* Raw both ways, so that no byte waits for a line end or comes back as an
   * echo. The slave stays open here, so the master never sees a hang-up
   * while the test opens and closes the port. */
  if (tcgetattr(slave, &raw) != 0) return 1;
  cfmakeraw(&raw);
  if (tcsetattr(slave, TCSANOW, &raw) != 0) return 1;
  unlink(argv[1]);
  if (symlink(name, argv[1]) != 0) {
    perror("symlink");
    return 1;
  }
  for (;;) {
    unsigned char order;
    const ssize_t n = read(master, &order, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return 1;
    for (unsigned i = 0; i < order; ++i) {
      const struct timespec pause = {0, 200 * 1000 * 1000};
      const unsigned char byte = (unsigned char)('a' + i % 26);
      if (i > 0) nanosleep(&pause, NULL);
      if (write(master, &byte, 1) != 1) return 1;
    }
  }
}
