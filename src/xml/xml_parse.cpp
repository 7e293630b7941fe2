// Builds the element index of a document in one pass over its nodes.
#include <algorithm>
#include <vector>

#include "xml/xml_document.h"

namespace torvexan {
namespace {

constexpr int kOpenTagBuckets = 23;
constexpr size_t kOpenTagInitialEntries = 7;
constexpr uint32_t kBytesPerReservedRecord = 64;
constexpr uint32_t kExtraReservedRecords = 8;

uint8_t FoldAscii(uint8_t c) {
  return (c >= 'A' && c <= 'Z') ? c + 32 : c;
}

inline bool TagNamesEqual(std::string_view a, std::string_view b, bool ignoreCase) {
  if (a.size() != b.size()) return false;
  // Names are short: a loop beats a call to memcmp.
  for (size_t i = 0; i < a.size(); ++i) {
    const auto x = static_cast<uint8_t>(a[i]);
    const auto y = static_cast<uint8_t>(b[i]);
    if (x != y && (!ignoreCase || FoldAscii(x) != FoldAscii(y))) return false;
  }
  return true;
}

// The names of the elements still open, chained in hash buckets so that an end tag finds its
// start tag without comparing against every open name. Nearly every end tag closes the innermost
// element, so names are hashed and chained only when an end tag looks further down: entries
// below `linked_` are in their chains, those above not yet.
class OpenTagStack {
 public:
  struct Entry {
    std::string_view name;
    ElementNumber element;
    int bucket;
    int nextInBucket;  // the entry below in the same bucket, -1 = none
  };

  explicit OpenTagStack(bool ignoreCase) : ignoreCase_(ignoreCase) {
    entries_.reserve(kOpenTagInitialEntries);
    std::fill(std::begin(heads_), std::end(heads_), -1);
  }

  void Push(std::string_view name, ElementNumber element) {
    if (entries_.size() == entries_.capacity()) entries_.reserve(entries_.capacity() * 2);
    entries_.push_back({name, element, -1, -1});
  }
  void PopTo(size_t size) {
    // Chains are in push order, so unlinking from the top restores every bucket's head.
    while (linked_ > size) {
      --linked_;
      heads_[entries_[linked_].bucket] = entries_[linked_].nextInBucket;
    }
    entries_.resize(std::min(size, entries_.size()));
  }
  // The topmost open element of that name, or -1.
  int Find(std::string_view name) {
    if (!entries_.empty() && TagNamesEqual(entries_.back().name, name, ignoreCase_)) {
      return static_cast<int>(entries_.size()) - 1;
    }
    for (; linked_ < entries_.size(); ++linked_) {
      Entry& entry = entries_[linked_];
      entry.bucket = Bucket(entry.name);
      entry.nextInBucket = heads_[entry.bucket];
      heads_[entry.bucket] = static_cast<int>(linked_);
    }
    for (int i = heads_[Bucket(name)]; i >= 0; i = entries_[i].nextInBucket) {
      if (TagNamesEqual(entries_[i].name, name, ignoreCase_)) return i;
    }
    return -1;
  }
  size_t Size() const { return entries_.size(); }
  const Entry& operator[](size_t i) const { return entries_[i]; }

 private:
  int Bucket(std::string_view name) const {
    unsigned sum = 0;
    for (char c : name) {
      const auto b = static_cast<uint8_t>(c);
      sum += ignoreCase_ ? FoldAscii(b) : b;
    }
    return static_cast<int>(sum % kOpenTagBuckets);
  }

  bool ignoreCase_;
  std::vector<Entry> entries_;
  size_t linked_ = 0;
  int heads_[kOpenTagBuckets];
};

}  // namespace

// One pass over the document's nodes, linking a record per element under the element that is
// open around it; unended elements, lone end tags and scanner errors are logged and flagged, and
// the scan goes on.
class XmlDocument::IndexBuilder {
 public:
  explicit IndexBuilder(XmlDocument& d)
      : d_(d),
        store_(d.store_),
        text_(d.text_),
        scanner_(d.Scanner()),
        ignoreCase_((d.docFlags_ & kDocIgnoreCase) != 0),
        open_(ignoreCase_) {}

  void Run() {
    const int32_t size = static_cast<int32_t>(text_.size());
    for (int32_t offset = 0;;) {
      // Text between tags adds nothing to the index: only the next "<" is looked for.
      if (offset < size && text_[offset] != '<') offset = scanner_.NextMarkup(offset);
      if (const int32_t after = CloseInnermostFast(offset); after >= 0) {
        offset = after;
        continue;
      }
      const ScannedNode node = scanner_.Scan(offset);
      if (node.type == kNodeEndOfDocument) break;
      if (node.type == kNodeElement) {
        StartElement(node);
      } else if (node.type == kNodeEndTag) {
        EndTag(node);
      } else if (node.type == kNodeError) {
        ScanError(node);
      }
      offset = node.end;
    }
    if (open_.Size() > 0) Unend(0, size);
    if (levelsMoved_) RenumberLevels();
  }

 private:
  std::string_view NameOf(const ScannedNode& node, int32_t nameStart) const {
    return std::string_view(text_).substr(nameStart, node.nameEnd - nameStart);
  }

  void FlagError() {
    store_[current_].flagsAndLevel |= kContainsError;
    store_[0].flagsAndLevel |= kNotWellFormed;
  }

  // Nearly every end tag is the innermost open name followed by ">": that is checked in one
  // pass, without scanning the name first. Returns where the text goes on, or -1.
  int32_t CloseInnermostFast(int32_t offset) {
    const int32_t size = static_cast<int32_t>(text_.size());
    if (ignoreCase_ || open_.Size() == 0 || offset + 1 >= size || text_[offset] != '<' ||
        text_[offset + 1] != '/') {
      return -1;
    }
    const std::string_view innermost = open_[open_.Size() - 1].name;
    const int32_t nameEnd = offset + 2 + static_cast<int32_t>(innermost.size());
    if (nameEnd >= size || text_[nameEnd] != '>' ||
        !TagNamesEqual(std::string_view(text_).substr(offset + 2, innermost.size()), innermost,
                       false)) {
      return -1;
    }
    Close(static_cast<int>(open_.Size()) - 1, offset, nameEnd + 1);
    return nameEnd + 1;
  }

  void StartElement(const ScannedNode& node) {
    const ElementNumber n = store_.Take();
    ElementRecord& r = store_[n];
    const uint32_t startTag = node.end - node.start;
    r.start = node.start;
    r.length = static_cast<int32_t>(startTag);
    r.SetTagLengths(startTag, 0);
    r.SetLevel(static_cast<uint32_t>(open_.Size()));
    store_.LinkAfterLast(n, current_, currentLast_);
    if (node.emptyElement) {
      currentLast_ = n;
    } else {
      open_.Push(NameOf(node, node.start + 1), n);
      current_ = n;
      currentLast_ = 0;
    }
  }

  void EndTag(const ScannedNode& node) {
    const std::string_view name = NameOf(node, node.start + 2);
    const int found = open_.Find(name);
    if (found < 0) {
      d_.log_.Add("lone_end_tag", {{"tagname", name}, {"offset", node.start}});
      FlagError();
      return;
    }
    if (static_cast<size_t>(found) + 1 < open_.Size()) Unend(found + 1, node.start);
    Close(found, node.start, node.end);
  }

  void ScanError(const ScannedNode& node) {
    if (node.unterminatedType) {
      d_.log_.Add(node.error, {{"type", node.unterminatedType}, {"offset", node.errorOffset}});
    } else {
      d_.log_.Add(node.error, {{"offset", node.errorOffset}});
    }
    FlagError();
  }

  // The element of open entry `found` ends with the end tag [start, end).
  void Close(int found, int32_t start, int32_t end) {
    const ElementNumber closed = open_[found].element;
    ElementRecord& r = store_[closed];
    r.length = end - r.start;
    r.SetTagLengths(r.StartTagLength(), end - start);
    current_ = r.parent;
    currentLast_ = closed;
    open_.PopTo(found);
  }

  // Elements open above stack entry `keep` get no end tag; their children move up to follow
  // them, outermost first so that every moved child is relinked once.
  void Unend(size_t keep, int32_t closedAt) {
    for (size_t i = open_.Size(); i-- > keep;) {
      ElementRecord& r = store_[open_[i].element];
      d_.log_.Add("unended_start_tag",
                  {{"tagname", open_[i].name}, {"offset", r.start}, {"offset2", closedAt}});
      r.flagsAndLevel |= kNoEndTag;
      r.length = static_cast<int32_t>(r.StartTagLength());
    }
    for (size_t i = keep; i < open_.Size(); ++i) MoveChildrenUp(open_[i].element);
    store_[0].flagsAndLevel |= kNotWellFormed;
    open_.PopTo(keep);
    levelsMoved_ = true;
  }

  // The children of an element without end tag become its following siblings.
  void MoveChildrenUp(ElementNumber x) {
    const ElementNumber first = store_[x].firstChild;
    if (first == 0) return;
    const ElementNumber p = store_[x].parent;
    const ElementNumber last = store_[first].previousSibling;
    for (ElementNumber c = first; c; c = store_[c].nextSibling) store_[c].parent = p;
    store_[first].flagsAndLevel &= ~kFirstChild;
    store_[first].previousSibling = x;
    store_[x].nextSibling = first;
    store_[x].firstChild = 0;
    store_[store_[p].firstChild].previousSibling = last;
  }

  // Records are numbered in document order, so every parent is set before its children.
  void RenumberLevels() {
    for (ElementNumber n = 1; n < store_.NextFree(); ++n) {
      const ElementNumber p = store_[n].parent;
      store_[n].SetLevel(p == 0 ? 0 : store_[p].Level() + 1);
    }
  }

  XmlDocument& d_;
  ElementStore& store_;
  const std::string& text_;
  const NodeScanner scanner_;
  const bool ignoreCase_;
  OpenTagStack open_;
  ElementNumber current_ = 0;
  ElementNumber currentLast_ = 0;  // last child of current_ so far
  bool levelsMoved_ = false;
};

void XmlDocument::Parse() {
  store_.Reset(static_cast<uint32_t>(text_.size() / kBytesPerReservedRecord) +
               kExtraReservedRecords);
  parent_ = main_ = child_ = 0;
  nodeType_ = nodeOffset_ = nodeLength_ = 0;
  IndexBuilder(*this).Run();
  const ElementNumber root = store_[0].firstChild;
  if (root == 0) {
    log_.Add("no_root_element");
  } else if (store_[root].nextSibling != 0) {
    log_.Add("root_has_sibling");
  }
}

}  // namespace torvexan
