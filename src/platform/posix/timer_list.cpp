#include "platform/posix/timer_list.h"

namespace torvexan {

uintptr_t TimerList::Start(uintptr_t, uint32_t periodMs) {
  for (Entry& e : entries_) {
    if (e.active) continue;
    // Like timers without owner window on Windows, each new timer gets an id of its own.
    e = Entry{nextId_++, periodMs == 0 ? 1 : periodMs, now_() + periodMs, true};
    return e.id;
  }
  return 0;
}

void TimerList::Stop(void*, uintptr_t id) {
  for (Entry& e : entries_) {
    if (e.active && e.id == id) e.active = false;
  }
}

int TimerList::Dispatch() {
  for (Entry& e : entries_) {
    if (!e.active) continue;
    const uint32_t now = now_();
    if (static_cast<int32_t>(now - e.dueAt) < 0) continue;
    e.dueAt += e.periodMs;
    if (static_cast<int32_t>(now - e.dueAt) >= 0) e.dueAt = now + e.periodMs;  // fell behind
    tick_(context_, nullptr, e.id);
  }
  int next = -1;
  const uint32_t now = now_();
  for (const Entry& e : entries_) {
    if (!e.active) continue;
    const int32_t wait = static_cast<int32_t>(e.dueAt - now);
    const int w = wait < 0 ? 0 : wait;
    if (next < 0 || w < next) next = w;
  }
  return next;
}

int TimerList::ActiveCount() const {
  int n = 0;
  for (const Entry& e : entries_) n += e.active ? 1 : 0;
  return n;
}

}  // namespace torvexan
