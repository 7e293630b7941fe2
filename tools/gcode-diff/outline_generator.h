// A closed outline cut under cutter compensation, as CAM writes one: a lead-in along its
// first side, sides that are lines or arcs bulging out or in (by R or by centre), some
// corners rounded by small arcs, then G40 and a move away.
#pragma once

#include <random>
#include <string>
#include <vector>

namespace torvexan::gcodediff {

// The lines of one outline in G90, cut with one of tools 1..toolCount.
std::vector<std::string> CompensatedOutline(std::mt19937_64& rng, int toolCount);

}  // namespace torvexan::gcodediff
