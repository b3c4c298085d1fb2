#include "datetime/format_item_source.h"

void FixedItemSource::Set(FormatItem item, std::string text, int index) {
  items_[{item, index}] = std::move(text);
}

void FixedItemSource::SetEras(std::vector<TEra> eras) { eras_ = std::move(eras); }

std::optional<std::string> FixedItemSource::Item(FormatItem item, int index) const {
  auto found = items_.find({item, index});
  if (found == items_.end()) return std::nullopt;
  return found->second;
}

std::vector<TEra> FixedItemSource::Eras() const { return eras_; }
