#pragma once

#include <QLocale>

#include "datetime/format_item_source.h"

// The regional items of a Qt locale; by default the system's, which on Linux
// follows LC_ALL, LC_TIME and LANG and carries Qt's own regional data, so a
// machine without generated C library locales still gets real formats. The
// items are taken when the source is made.
class QLocaleItemSource : public FixedItemSource {
 public:
  explicit QLocaleItemSource(const QLocale& locale = QLocale::system());
};
