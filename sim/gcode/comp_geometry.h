// The paths of cutter radius compensation in one plane: a programmed line or arc, the path
// the tool's centre follows a radius to one side of it, and where two such paths meet at an
// inside corner. Points are (first, second) coordinates of the plane.
#pragma once

#include <string>

namespace torvexan::sim {

struct CompPath {
  bool arc = false;
  bool clockwise = false;
  double start[2] = {};  // programmed
  double end[2] = {};
  double centre[2] = {};       // arc
  double sweep = 0.0;          // arc: radians, magnitude; 2 pi for a full circle
  double offsetRadius = 0.0;   // arc: the tool centre's circle, at the end
  double startNormal[2] = {};  // unit, from the programmed path towards the tool
  double endNormal[2] = {};
  double startTangent[2] = {};  // unit, the direction of travel
  double endTangent[2] = {};
};

// side: +1 with the tool on the left (G41), -1 on the right (G42).
CompPath LinePath(const double start[2], const double end[2], double side);
// False with the reason when the tool's circle would have no radius left (a tool as large as
// the inside of the arc).
bool ArcPath(const double start[2], const double end[2], const double centre[2], bool clockwise,
             double sweep, double side, double radius, CompPath* path, std::string* why);

// Where a's offset path (near its end) meets b's (near its start) at the corner between
// them; false when they do not meet.
bool MeetAtCorner(const CompPath& a, const CompPath& b, double radius, double at[2]);

// How far along p's offset path the point `to` lies after `from`: a length along a line, an
// angle in the direction of travel along an arc, in [0, 2 pi).
double Along(const CompPath& p, const double from[2], const double to[2]);

}  // namespace torvexan::sim
