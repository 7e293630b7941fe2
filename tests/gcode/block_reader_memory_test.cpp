// A reader costs the same at line ten and at line a hundred thousand: once its first lines
// have given its scratch room, reading on allocates nothing, subprogram calls, parameters and
// the tool table included. This program counts every global operator new.
#include <gtest/gtest.h>

#include <string>

#include "sim/gcode/block_reader.h"
#include "support/heap_counter.h"

namespace torvexan::sim::testing {
namespace {

using torvexan::testing::StartCountingAllocations;
using torvexan::testing::StopCountingAllocations;

constexpr int kLines = 100'000;
constexpr int kWarmUpBlocks = 1000;

// Moves, parameters, tool table entries and a subprogram called with repeats, over and over.
std::string LongJob() {
  std::string text = "G21 G90 G1 F600\n#1 = 0\n";
  for (int i = 0; i < kLines; ++i) {
    switch (i % 5) {
      case 0:
        text += "G1 X" + std::to_string(i % 97) + " Y[#1 * 2]\n";
        break;
      case 1:
        text += "#1 = [#1 + 0.5]\n";
        break;
      case 2:
        text += "M98 P10 L2\n";
        break;
      case 3:
        text += "G10 L1 P2 R0.5 Z" + std::to_string(i % 7) + "\n";
        break;
      default:
        text += "G2 X[#1] Y0 I1 J0 (an arc by its centre)\n";
        break;
    }
  }
  text += "M30\nO10\nG91 G0 Z1\nG0 Z-1 G90\nM99\n";
  return text;
}

TEST(BlockReaderMemory, TheCounterSeesAnAllocation) {
  StartCountingAllocations();
  void* volatile p = ::operator new(16);
  ::operator delete(p);
  EXPECT_EQ(StopCountingAllocations(), 1);
}

TEST(BlockReaderMemory, ReadingOnAllocatesNothing) {
  const Job job = ParseJob(LongJob());
  ASSERT_TRUE(job.errors.empty()) << job.errors[0].line << ": " << job.errors[0].message;
  BlockReader reader(job);
  Block b;
  for (int i = 0; i < kWarmUpBlocks; ++i) ASSERT_TRUE(reader.Next(&b));
  StartCountingAllocations();
  size_t read = 0;
  while (reader.Next(&b)) ++read;
  const long allocations = StopCountingAllocations();
  EXPECT_EQ(allocations, 0);
  // The whole job was read: two blocks more a call, and the M30.
  EXPECT_EQ(reader.count(), job.blockCount);
  EXPECT_GT(read, static_cast<size_t>(kLines));
  EXPECT_TRUE(reader.ended());
}

}  // namespace
}  // namespace torvexan::sim::testing
