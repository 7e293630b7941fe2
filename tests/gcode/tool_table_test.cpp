// The tool table as users write it: one tool a line, words in any order, comments after ';'
// and in parentheses, millimetres. Every value read is checked here on its own, since the
// comparison with rs274 only sees the tools through the moves they make.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/gcode/tool_table.h"

namespace torvexan::sim::testing {
namespace {

std::vector<ToolEntry> Read(const std::string& text) {
  std::vector<ToolEntry> tools;
  std::string error;
  EXPECT_TRUE(ParseToolTable(text, &tools, &error)) << error;
  return tools;
}

std::string Refusal(const std::string& text) {
  std::vector<ToolEntry> tools;
  std::string error;
  EXPECT_FALSE(ParseToolTable(text, &tools, &error)) << text;
  return error;
}

TEST(ToolTable, DiametersLengthsAndPocketsAreReadAsWritten) {
  const std::vector<ToolEntry> tools = Read(
      "; tools of the pocket job (mm)\n"
      "T1 P1 D6 Z42.5 ;flat end mill\n"
      "\n"
      "T2 P7 D3.175 Z61.25\r\n"
      "(a drill) Z-3.5 D10 T12 P3\n"
      "t4 p4 d.5 z+1.\n"
      "T5\n");
  ASSERT_EQ(tools.size(), 5u);
  EXPECT_EQ(tools[0].number, 1);
  EXPECT_EQ(tools[0].pocket, 1);
  EXPECT_EQ(tools[0].diameter, 6.0);
  EXPECT_EQ(tools[0].length, 42.5);
  EXPECT_EQ(tools[1].pocket, 7);
  EXPECT_EQ(tools[1].diameter, 3.175);
  EXPECT_EQ(tools[1].length, 61.25);
  EXPECT_EQ(tools[2].number, 12);
  EXPECT_EQ(tools[2].pocket, 3);
  EXPECT_EQ(tools[2].diameter, 10.0);
  EXPECT_EQ(tools[2].length, -3.5);
  EXPECT_EQ(tools[3].number, 4);
  EXPECT_EQ(tools[3].diameter, 0.5);
  EXPECT_EQ(tools[3].length, 1.0);
  // What a line leaves out is 0.
  EXPECT_EQ(tools[4].number, 5);
  EXPECT_EQ(tools[4].pocket, 0);
  EXPECT_EQ(tools[4].diameter, 0.0);
  EXPECT_EQ(tools[4].length, 0.0);
  EXPECT_TRUE(Read("").empty());
  EXPECT_TRUE(Read("; only a comment\n(and another)\n").empty());
}

TEST(ToolTable, ABadLineIsRefusedWithItsNumberAndWord) {
  EXPECT_EQ(Refusal("T1 D6\nT2 X4\n"), "line 2: 'X4': not a tool word (T, P, D, Z)");
  EXPECT_EQ(Refusal("P1 D6 Z10\n"), "line 1: a tool needs its number T");
  EXPECT_EQ(Refusal("T1.5 D6\n"), "line 1: 'T1.5': not a tool word (T, P, D, Z)");
  EXPECT_EQ(Refusal("T1 D-6\n"), "line 1: 'D-6': not a tool word (T, P, D, Z)");
  EXPECT_EQ(Refusal("T1 D\n"), "line 1: 'D': a word needs a number");
  EXPECT_EQ(Refusal("T1 D6 (open\n"), "line 1: comment '(' is not closed");
  EXPECT_EQ(Refusal("T1 P-2 D6\n"), "line 1: 'P-2': a pocket is a whole number from 0");
  // One tool number, one tool: which of two lines would count is the user's guess.
  EXPECT_EQ(Refusal("T1 D6\nT2 D3\nT1 D8\n"), "line 3: tool T1 is on line 1 already");
}

}  // namespace
}  // namespace torvexan::sim::testing
