// The G-code library's one way in: text and a machine description in; blocks, moves, actions,
// planned slices and messages out. The simulated host, torvexan-sim, gcode-diff and the
// benchmark include this header only; the other headers of sim/gcode/ are its inside.
//
//   job_text.h      reading a job file's text with bounds a G-code file never reaches
//   job_file.h      a job as read once: its errors, warnings and what its blocks come to
//   block_reader.h  the reader: lines into blocks with their modal values settled, on demand
//   tool_table.h    the tool table file
//   job_interpreter.h  blocks into straight moves and the host's actions
//   planner.h       straight moves into the host's 5 ms slices
//   job_warnings.h  what the machine cannot do though the job still runs
#pragma once

#include "sim/gcode/axes.h"
#include "sim/gcode/block_reader.h"
#include "sim/gcode/job_file.h"
#include "sim/gcode/job_interpreter.h"
#include "sim/gcode/job_text.h"
#include "sim/gcode/job_warnings.h"
#include "sim/gcode/planner.h"
#include "sim/gcode/tool_table.h"
