/* The far end of a serial line for the Win32 device's unit tests under Wine:
 * a pseudo-terminal, linked at PATH, that the test's prefix maps to a COM
 * port. Each byte N the program under test writes orders N bytes "abc...",
 * the first at once, then one every 200 ms: a line that never goes quiet for
 * the read's 250 ms gap. With --silent HEARD it is a modem that is
 * switched on but never answers: every byte the program writes is appended
 * to the file HEARD, and nothing goes back. Runs until it is killed.
 *
 *   gcc -O2 -o pty_line_peer pty_line_peer.c -lutil
 *   pty_line_peer [--silent HEARD] PATH
 */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <pty.h>
#include <string.h>
#include <stdio.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

int main(int argc, char** argv) {
  int master = -1;
  int slave = -1;
  char name[128];
  struct termios raw;
  int heard = -1;
  const char* path = argv[1];
  if (argc == 4 && strcmp(argv[1], "--silent") == 0) {
    heard = open(argv[2], O_WRONLY | O_CREAT | O_TRUNC | O_APPEND, 0644);
    if (heard < 0) {
      perror(argv[2]);
      return 1;
    }
    path = argv[3];
  } else if (argc != 2) {
    fprintf(stderr, "usage: %s [--silent HEARD] PATH\n", argv[0]);
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
  /* The link appears only once the terminal is raw and HEARD exists, so
   * whoever waits for it may start the program at once. */
  unlink(path);
  if (symlink(name, path) != 0) {
    perror("symlink");
    return 1;
  }
  while (heard >= 0) {
    unsigned char bytes[256];
    const ssize_t n = read(master, bytes, sizeof bytes);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return 1;
    if (write(heard, bytes, (size_t)n) != n) return 1;
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
