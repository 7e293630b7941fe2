// How the report writes what every section of it has: times on the one clock of the report
// (seconds since the job started), lengths in the units the job was written in with
// millimetres beside them where those differ, and warnings.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace torvexan::sim {

struct ReportUnits {
  bool inches = false;  // the job was written in inches
};

// "12.345 s": seconds since the job started.
std::string JobTime(double seconds);
// The card's clock (ms) on the report's: cardMsAtJobStart is the card's clock at the job's start.
double JobSecondsOfCard(double cardMs, double cardMsAtJobStart);

// "X 1.0000 Y 2.0000 Z 0.5000" for a millimetre job; for an inch job "X 1.0000 Y 2.0000
// Z 0.5000 in (X 25.4000 Y 50.8000 Z 12.7000 mm)". mm: count values of the linear axes named
// by letters, millimetres.
std::string Lengths(const char* letters, const double* mm, int count, const ReportUnits& units);
// One length: "0.5000" or "0.5000 in (12.7000 mm)".
std::string Length(double mm, const ReportUnits& units);
// "mm" or "in".
const char* UnitName(const ReportUnits& units);

// Every warning, one line each, after its label.
void PrintWarnings(std::FILE* out, const std::vector<std::string>& warnings);

}  // namespace torvexan::sim
