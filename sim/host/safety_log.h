// What the host's operator would have seen happen to the machine's safety while a job ran:
// every emergency stop, reset, aborted referencing or probing, the plug-in's status texts and
// whatever struck the card, each with its time and the job line the machine was at.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace torvexan::sim {

struct SafetyEvent {
  enum class Source {
    kHost,    // what the host saw and did
    kPlugin,  // a status text, as the plug-in sent its bytes
    kCard,    // what struck the card (known only when the card runs in this process)
  };
  double seconds = 0.0;  // since the host started the plug-in
  int line = 0;          // the job line the machine was at; 0 before the job
  Source source = Source::kHost;
  std::string text;
};

class SafetyLog {
 public:
  // Events come in the order the host learns of them; none is earlier than the one before.
  void Add(double seconds, int line, SafetyEvent::Source source, std::string text);
  const std::vector<SafetyEvent>& events() const { return events_; }

 private:
  std::vector<SafetyEvent> events_;
};

const char* SourceName(SafetyEvent::Source source);

}  // namespace torvexan::sim
