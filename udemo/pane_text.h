#pragma once

#include <QString>
#include <string_view>

// A line of 8-bit text as a pane shows it. Control bytes (0-31 and 127)
// become their visible Unicode pictures, so a record is always exactly one
// line of the pane whatever bytes it holds; the log file gets the raw bytes.
QString PaneText(std::string_view line);
