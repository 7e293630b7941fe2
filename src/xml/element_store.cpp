#include "xml/element_store.h"

#include <algorithm>
#include <cstring>

namespace torvexan {

void ElementRecord::SetTagLengths(uint32_t startTag, uint32_t endTag) {
  tagLengths = std::min(startTag, kStartTagMax) | (std::min(endTag, kEndTagMax) << kStartTagBits);
}

void ElementRecord::SetLevel(uint32_t level) {
  flagsAndLevel = (flagsAndLevel & ~kLevelMask) | std::min(level, kLevelMask);
}

void ElementStore::Reset(uint32_t records) {
  nextFree_ = 1;
  Grow(std::max(records, 1u));
  (*this)[0] = ElementRecord{};
}

ElementNumber ElementStore::Take() {
  if (nextFree_ >= capacity_) Grow(capacity_ + capacity_ / 2 + 1);
  const ElementNumber n = nextFree_++;
  (*this)[n] = ElementRecord{};
  return n;
}

void ElementStore::Grow(uint32_t records) {
  if (records <= capacity_) return;
  // The last, partial segment is reallocated to its exact need; further segments come whole,
  // except a new last one, which gets only what is asked.
  while (capacity_ < records) {
    const bool partialLast = !segments_.empty() && lastSegmentSize_ < kSegmentRecords;
    if (partialLast) {
      const uint32_t size =
          std::min<uint64_t>(kSegmentRecords, lastSegmentSize_ + (records - capacity_));
      auto segment = std::make_unique<ElementRecord[]>(size);
      std::memcpy(segment.get(), segments_.back().get(), lastSegmentSize_ * sizeof(ElementRecord));
      capacity_ += size - lastSegmentSize_;
      segments_.back() = std::move(segment);
      lastSegmentSize_ = size;
    } else {
      const uint32_t size = std::min<uint64_t>(kSegmentRecords, records - capacity_);
      segments_.push_back(std::make_unique<ElementRecord[]>(size));
      capacity_ += size;
      lastSegmentSize_ = size;
    }
  }
}

}  // namespace torvexan
