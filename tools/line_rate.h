#pragma once

namespace devsim {

// The line rate in bits per second that the terminal behind `fd` is set to
// (asked through the master of a pseudo-terminal, the slave's setting); 0 when
// it cannot be read.
unsigned LineRate(int fd);

}  // namespace devsim
