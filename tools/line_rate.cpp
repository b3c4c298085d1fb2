// Kept in its own file: the kernel's termios2 header clashes with <termios.h>.
#include "line_rate.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace devsim {

unsigned LineRate(int fd) {
  struct termios2 settings {};
  if (ioctl(fd, TCGETS2, &settings) != 0) return 0;
  return settings.c_ospeed;
}

}  // namespace devsim
