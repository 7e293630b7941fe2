// Counts the program's global operator new calls between Start and Stop. Linking
// heap_counter.cpp replaces the global allocation functions of the whole program.
#pragma once

namespace torvexan::testing {

void StartCountingAllocations();
// The allocations seen since Start.
long StopCountingAllocations();

}  // namespace torvexan::testing
