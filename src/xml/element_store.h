// The flat element index of a document: fixed-size records in segments of 65536.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

namespace torvexan {

// Element numbers: the high 16 bits pick a segment, the low 16 bits the record inside it.
using ElementNumber = uint32_t;

inline constexpr uint32_t kSegmentShift = 16;
inline constexpr uint32_t kSegmentRecords = 1u << kSegmentShift;

// Tag lengths: low 22 bits the start tag, high 10 bits the end tag (saturated when longer).
inline constexpr uint32_t kStartTagBits = 22;
inline constexpr uint32_t kStartTagMax = (1u << kStartTagBits) - 1;
inline constexpr uint32_t kEndTagMax = (1u << (32 - kStartTagBits)) - 1;

// Flags and level: low 16 bits the nesting level (root 0).
inline constexpr uint32_t kLevelMask = 0xFFFF;
inline constexpr uint32_t kFirstChild = 0x80000;
inline constexpr uint32_t kNoEndTag = 0x100000;
inline constexpr uint32_t kContainsError = 0x200000;
inline constexpr uint32_t kNotWellFormed = 0x800000;  // on record 0 only

struct ElementRecord {
  int32_t start;
  int32_t length;
  uint32_t tagLengths;
  uint32_t flagsAndLevel;
  ElementNumber parent;
  ElementNumber firstChild;
  ElementNumber nextSibling;
  ElementNumber previousSibling;  // the first child keeps the last child here

  uint32_t StartTagLength() const { return tagLengths & kStartTagMax; }
  uint32_t EndTagLength() const { return tagLengths >> kStartTagBits; }
  void SetTagLengths(uint32_t startTag, uint32_t endTag) {
    tagLengths = std::min(startTag, kStartTagMax) | (std::min(endTag, kEndTagMax) << kStartTagBits);
  }
  uint32_t Level() const { return flagsAndLevel & kLevelMask; }
  void SetLevel(uint32_t level) {
    flagsAndLevel = (flagsAndLevel & ~kLevelMask) | std::min(level, kLevelMask);
  }
  int32_t End() const { return start + length; }
};
static_assert(sizeof(ElementRecord) == 32, "records are packed into segments");

class ElementStore {
 public:
  // Forgets every record but record 0 and makes room for at least `records` records.
  void Reset(uint32_t records);
  // Takes the next free record (cleared), growing the store by half when it is full.
  ElementNumber Take() {
    if (nextFree_ >= capacity_) Grow(capacity_ + capacity_ / 2 + 1);
    const ElementNumber n = nextFree_++;
    (*this)[n] = ElementRecord{};
    return n;
  }
  ElementNumber NextFree() const { return nextFree_; }
  uint32_t Capacity() const { return capacity_; }

  // Most documents fit in the first segment: its records are reached without going through the
  // segment table, which keeps one load off every chain of links the parser follows.
  ElementRecord& operator[](ElementNumber n) {
    return n < kSegmentRecords ? firstSegment_[n]
                               : segments_[n >> kSegmentShift][n & (kSegmentRecords - 1)];
  }
  const ElementRecord& operator[](ElementNumber n) const {
    return n < kSegmentRecords ? firstSegment_[n]
                               : segments_[n >> kSegmentShift][n & (kSegmentRecords - 1)];
  }
  bool Valid(ElementNumber n) const { return n > 0 && n < nextFree_; }

  // Links a record as the last child of a parent; the first child keeps the last in its
  // previous-sibling link, so this takes one step however many children there are.
  void LinkLast(ElementNumber element, ElementNumber parent) {
    const ElementNumber first = (*this)[parent].firstChild;
    LinkAfterLast(element, parent, first == 0 ? 0 : (*this)[first].previousSibling);
  }
  // LinkLast for a caller that knows the parent's last child (0: none yet), as the parser does:
  // one load fewer on the chain from one element to the next.
  void LinkAfterLast(ElementNumber element, ElementNumber parent, ElementNumber last) {
    ElementRecord& r = (*this)[element];
    ElementRecord& p = (*this)[parent];
    r.parent = parent;
    r.nextSibling = 0;
    if (last == 0) {
      p.firstChild = element;
      r.previousSibling = element;
      r.flagsAndLevel |= kFirstChild;
      return;
    }
    (*this)[last].nextSibling = element;
    r.previousSibling = last;
    (*this)[p.firstChild].previousSibling = element;
  }

 private:
  void Grow(uint32_t records);

  std::vector<std::unique_ptr<ElementRecord[]>> segments_;
  ElementRecord* firstSegment_ = nullptr;  // segments_[0]
  uint32_t lastSegmentSize_ = 0;
  uint32_t capacity_ = 0;
  ElementNumber nextFree_ = 1;
};

}  // namespace torvexan
