/* Preloaded into every wine process of the tests.
 *
 * 1. No real serial device is opened: /dev/ttyS0 is this machine's console.
 * 2. A pseudo-terminal plays a serial port. Wine's serial driver asks the
 *    tty for its modem lines, error counters and line status, which a pty
 *    lacks; without answers its WaitCommEvent fails. The lines come from the
 *    file that KAROLX_TEST_LINES names (a decimal TIOCM_ mask, so a test can
 *    raise CTS or DSR), DSR and CTS on when there is none; the counters are
 *    zero and the transmitter is empty when the output queue is. Once the
 *    master has gone, these fail with EIO, as on a pulled USB adapter. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

static int real_serial_device(const char* path) {
  static const char* const names[] = {"/dev/ttyS", "/dev/ttyUSB", "/dev/ttyACM", "/dev/ttyAMA"};
  char resolved[4096];
  if (!path) return 0;
  if (realpath(path, resolved)) path = resolved;
  for (size_t i = 0; i < sizeof names / sizeof names[0]; ++i) {
    if (strncmp(path, names[i], strlen(names[i])) == 0) return 1;
  }
  return 0;
}

#define REFUSE_SERIAL(path) \
  do { if (real_serial_device(path)) { errno = ENOENT; return -1; } } while (0)
#define MODE_ARG(flags, mode) \
  mode_t mode = 0; \
  if ((flags) & (O_CREAT | O_TMPFILE)) { va_list a; va_start(a, flags); mode = va_arg(a, mode_t); va_end(a); }

int open(const char* path, int flags, ...) {
  static int (*real)(const char*, int, ...);
  if (!real) real = dlsym(RTLD_NEXT, "open");
  MODE_ARG(flags, mode);
  REFUSE_SERIAL(path);
  return real(path, flags, mode);
}
int open64(const char* path, int flags, ...) {
  static int (*real)(const char*, int, ...);
  if (!real) real = dlsym(RTLD_NEXT, "open64");
  MODE_ARG(flags, mode);
  REFUSE_SERIAL(path);
  return real(path, flags, mode);
}
int openat(int dir, const char* path, int flags, ...) {
  static int (*real)(int, const char*, int, ...);
  if (!real) real = dlsym(RTLD_NEXT, "openat");
  MODE_ARG(flags, mode);
  REFUSE_SERIAL(path);
  return real(dir, path, flags, mode);
}
int openat64(int dir, const char* path, int flags, ...) {
  static int (*real)(int, const char*, int, ...);
  if (!real) real = dlsym(RTLD_NEXT, "openat64");
  MODE_ARG(flags, mode);
  REFUSE_SERIAL(path);
  return real(dir, path, flags, mode);
}

static int is_pty(int fd) {
  struct stat st;
  return fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) && major(st.st_rdev) >= 136 && major(st.st_rdev) <= 143;
}

/* A file being rewritten may be read empty: the lines stay as they were. */
static int test_lines(void) {
  static int bits = TIOCM_DSR | TIOCM_CTS;
  const char* file = getenv("KAROLX_TEST_LINES");
  FILE* f = file ? fopen(file, "r") : NULL;
  if (f) {
    int read;
    if (fscanf(f, "%d", &read) == 1) bits = read;
    fclose(f);
  }
  return bits;
}

int ioctl(int fd, unsigned long request, ...) {
  static int (*real)(int, unsigned long, void*);
  if (!real) real = dlsym(RTLD_NEXT, "ioctl");
  va_list a;
  va_start(a, request);
  void* arg = va_arg(a, void*);
  va_end(a);
  if (is_pty(fd)) {
    struct pollfd hung = {fd, 0, 0};
    const int asked = request == TIOCMGET || request == TIOCMSET || request == TIOCMBIS ||
                      request == TIOCMBIC || request == TIOCGICOUNT || request == TIOCSERGETLSR;
    if (asked && poll(&hung, 1, 0) == 1 && (hung.revents & POLLHUP)) {
      errno = EIO;
      return -1;
    }
    switch (request) {
      case TIOCMGET: *(int*)arg = test_lines(); return 0;
      case TIOCMSET: case TIOCMBIS: case TIOCMBIC: return 0;
      case TIOCGICOUNT: memset(arg, 0, sizeof(struct serial_icounter_struct)); return 0;
      case TIOCSERGETLSR: {
        int queued = 0;
        if (real(fd, TIOCOUTQ, &queued) != 0) return -1;
        *(unsigned int*)arg = queued == 0 ? TIOCSER_TEMT : 0;
        return 0;
      }
      default: break;
    }
  }
  return real(fd, request, arg);
}

/* The checked entry points that fortified callers use. */
int __open_2(const char* path, int flags) { return open(path, flags); }
int __open64_2(const char* path, int flags) { return open64(path, flags); }
int __openat_2(int dir, const char* path, int flags) { return openat(dir, path, flags); }
int __openat64_2(int dir, const char* path, int flags) { return openat64(dir, path, flags); }
