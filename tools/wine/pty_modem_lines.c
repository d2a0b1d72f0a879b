/* Preloaded into Wine for the end-to-end run only: a pseudo-terminal
 * has no modem status lines, so TIOCMGET fails on it and Wine reports that
 * GetCommModemStatus failed; and setting DTR/RTS (TIOCMBIS, TIOCMBIC,
 * TIOCMSET) fails too. On a pseudo-terminal, and only there, this library
 * answers TIOCMGET with CTS and DSR on (a modem that is switched on and
 * ready) and lets the line-setting calls succeed. Every other ioctl, and
 * every ioctl on anything but a pseudo-terminal, goes to the C library
 * unchanged. The program under test is not touched.
 *
 * Built for Wine's word size: with -m32 for 32-bit Wine, without for
 * 64-bit Wine.
 *
 *   gcc [-m32] -shared -fPIC -O2 -o pty_modem_lines.so pty_modem_lines.c -ldl
 */
#define _GNU_SOURCE
#define _FILE_OFFSET_BITS 64  /* a 32-bit fstat fails (EOVERFLOW) on large inode numbers */
#include <dlfcn.h>
#include <errno.h>
#include <stdarg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>

typedef int (*ioctl_fn)(int, unsigned long, ...);

/* Unix98 pseudo-terminal slaves have majors 136 to 143. */
static int is_pty(int fd) {
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return 0;
  return major(st.st_rdev) >= 136 && major(st.st_rdev) <= 143;
}

static int answer(ioctl_fn real, int fd, unsigned long request, void* arg) {
  int result = real(fd, request, arg);
  int saved;
  if (result == 0) return result;
  saved = errno;
  if (!is_pty(fd)) {
    errno = saved;
    return result;
  }
  switch (request) {
    case TIOCMGET:
      if (arg) *(int*)arg = TIOCM_CTS | TIOCM_DSR | TIOCM_DTR | TIOCM_RTS;
      return 0;
    case TIOCMBIS:
    case TIOCMBIC:
    case TIOCMSET:
      return 0;
    default:
      errno = saved;
      return result;
  }
}

int ioctl(int fd, unsigned long request, ...) {
  static ioctl_fn real;
  va_list args;
  void* arg;
  if (!real) real = (ioctl_fn)dlsym(RTLD_NEXT, "ioctl");
  va_start(args, request);
  arg = va_arg(args, void*);
  va_end(args);
  return answer(real, fd, request, arg);
}

/* 32-bit Wine is built with a 64-bit time_t and calls glibc's time64 entry. */
int __ioctl_time64(int fd, unsigned long request, ...) {
  static ioctl_fn real;
  va_list args;
  void* arg;
  if (!real) real = (ioctl_fn)dlsym(RTLD_NEXT, "__ioctl_time64");
  if (!real) real = (ioctl_fn)dlsym(RTLD_NEXT, "ioctl");
  va_start(args, request);
  arg = va_arg(args, void*);
  va_end(args);
  return answer(real, fd, request, arg);
}
