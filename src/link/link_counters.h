// Folding replies into the link counters and printing them.
#pragma once

#include <cstdio>

#include "state/link_counter_record.h"

namespace torvexan {

// Folds an exchange reply's parser result into the counters.
void CountReply(LinkCounters& counters, int replyResult);

// Writes the counters as one line: "link counters: exchanges N, resends N, ...".
void PrintLinkCounters(std::FILE* out, const LinkCounters& counters);

}  // namespace torvexan
