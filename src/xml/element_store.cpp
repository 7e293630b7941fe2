#include "xml/element_store.h"

#include <algorithm>
#include <cstring>

namespace torvexan {

void ElementStore::Reset(uint32_t records) {
  nextFree_ = 1;
  Grow(std::max(records, 1u));
  (*this)[0] = ElementRecord{};
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
  firstSegment_ = segments_.front().get();
}

}  // namespace torvexan
