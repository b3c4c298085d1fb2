#pragma once

// Prints one line per serial port of this machine on standard output, or
// says that there is none: what --list answers, without a display.
void PrintSerialPorts();
