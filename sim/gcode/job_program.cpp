// The one read of a whole job before the run: every block read, none kept; what they come to
// and what is wrong with them is.
#include <algorithm>
#include <cstdio>

#include "sim/gcode/block_reader.h"
#include "sim/gcode/job_file.h"

namespace torvexan::sim {
namespace {

// Gathers JobTally block by block.
class TallyFold {
 public:
  void Add(const Block& b) {
    if (b.changeTool) {
      ++tally.toolChanges;
      tally.toolsChanged.insert(b.tool);
    }
    tally.probeLog |= b.probeLog == 40;
    tally.spindleOrUserCode |= b.spindle != SpindleTurn::kNone || b.userCode != 0;
    ToolLength(b);
  }

  JobTally tally;

 private:
  void ToolLength(const Block& b) {
    if (b.selectTool >= 0) selected_ = b.selectTool;
    changed_ |= b.changeTool;
    const bool offset = b.toolLength == ToolLength::kPlus || b.toolLength == ToolLength::kMinus;
    const int inSpindle = changed_ ? b.tool : selected_;
    if (!offset || b.lengthTool <= 0 || inSpindle < 0 || b.lengthTool == inSpindle) return;
    char text[160];
    std::snprintf(
        text, sizeof text, "G%d H%d applies the length of tool %d while tool %d is in the spindle",
        b.toolLength == ToolLength::kPlus ? 43 : 44, b.lengthTool, b.lengthTool, inSpindle);
    tally.toolLength.push_back(JobWarning{b.line, text});
  }

  bool changed_ = false;  // an M6 has run: the spindle holds its tool
  int selected_ = -1;
};

// Reads on to the job's end from where reader stands, into *job.
void ReadOn(BlockReader* reader, Job* job) {
  ReadLog log;
  TallyFold tally;
  Block block;
  while (reader->Next(&block, &log)) {
    tally.Add(block);
    job->inches = job->inches || (block.moves && reader->inches());
  }
  job->blockCount = reader->count();
  job->ended = reader->ended();
  log.SortErrors();
  job->errors = std::move(log.errors);
  job->warnings = std::move(log.warnings);
  job->lastProbeResultReader = log.lastProbeResultReader;
  job->tally = std::move(tally.tally);
}

// Reads the whole of job's text, with tools and init.
Job ReadWhole(Job job, const std::vector<ToolEntry>& tools, std::string_view init) {
  job.tools = tools;
  job.init = init;
  BlockReader reader(job);
  ReadOn(&reader, &job);
  return job;
}

}  // namespace

Job ParseJob(std::string_view text, const std::vector<ToolEntry>& tools, const ProbeTrips& trips,
             std::string_view init) {
  Job job;
  job.source = text;
  job.trips = trips;
  return ReadWhole(std::move(job), tools, init);
}

Job ParseJobText(std::string text, const std::vector<ToolEntry>& tools, std::string_view init) {
  Job job;
  job.source = std::move(text);
  return ReadWhole(std::move(job), tools, init);
}

ReadLog ReadRest(BlockReader reader) {
  ReadLog log;
  Block block;
  while (reader.Next(&block, &log)) {
  }
  log.SortErrors();
  return log;
}

std::vector<Block> AllBlocks(const Job& job) {
  std::vector<Block> blocks;
  blocks.reserve(job.blockCount);
  BlockReader reader(job);
  Block block;
  while (reader.Next(&block)) blocks.push_back(block);
  return blocks;
}

}  // namespace torvexan::sim
