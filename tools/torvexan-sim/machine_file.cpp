#include "tools/torvexan-sim/machine_file.h"

#include <cmath>
#include <fstream>
#include <initializer_list>
#include <sstream>

#include <toml++/toml.h>

namespace torvexan::sim {
namespace {

constexpr const char* kAxisKeys[kHostAxisCount] = {"x", "y", "z", "a", "b", "c"};
constexpr int kHighestToolNumber = 9999;
constexpr double kHighestSpindleRpm = 1e6;

// What went wrong where: the first fault ends the reading.
class Reader {
 public:
  explicit Reader(std::string path) : path_(std::move(path)) {}

  bool Fail(const toml::node& at, const std::string& key, const std::string& reason) {
    if (error_.empty()) {
      error_ = path_ + ":" + std::to_string(at.source().begin.line) + ": " + key + ": " + reason;
    }
    return false;
  }
  const std::string& error() const { return error_; }

  // Every key of table must be one of known.
  bool OnlyKeys(const toml::table& table, const std::string& prefix,
                std::initializer_list<const char*> known) {
    for (auto&& [key, node] : table) {
      bool found = false;
      for (const char* k : known) found |= key.str() == k;
      if (found) continue;
      std::string list;
      for (const char* k : known) list += (list.empty() ? "" : ", ") + std::string(k);
      return Fail(node, prefix + std::string(key.str()), "unknown key (known here: " + list + ")");
    }
    return true;
  }

  const toml::table* Table(const toml::node& node, const std::string& key) {
    const toml::table* t = node.as_table();
    if (t == nullptr) Fail(node, key, "must be a table");
    return t;
  }

  // A number at table[name], if there; false when it is there but no finite number.
  bool Number(const toml::table& table, const std::string& prefix, const char* name,
              double* value) {
    const toml::node* node = table.get(name);
    if (node == nullptr) return true;
    const std::optional<double> v =
        node->is_number() ? node->value<double>() : std::optional<double>();
    if (!v || !std::isfinite(*v)) return Fail(*node, prefix + name, "must be a number");
    *value = *v;
    return true;
  }

  bool Positive(const toml::table& table, const std::string& prefix, const char* name,
                double* value) {
    if (!Number(table, prefix, name, value)) return false;
    if (*value > 0.0) return true;
    return Fail(*table.get(name), prefix + name, "must be above 0");
  }

  bool Text(const toml::table& table, const std::string& prefix, const char* name,
            std::string* value) {
    const toml::node* node = table.get(name);
    if (node == nullptr) return true;
    if (!node->is_string()) return Fail(*node, prefix + name, "must be a string in quotes");
    *value = *node->value<std::string>();
    return true;
  }

  bool Integer(const toml::table& table, const std::string& prefix, const char* name, int low,
               int high, int* value) {
    const toml::node* node = table.get(name);
    if (node == nullptr) return true;
    const std::optional<int64_t> v = node->is_integer() ? node->value<int64_t>() : std::nullopt;
    if (!v || *v < low || *v > high) {
      return Fail(
          *node, prefix + name,
          "must be a whole number from " + std::to_string(low) + " to " + std::to_string(high));
    }
    *value = static_cast<int>(*v);
    return true;
  }

 private:
  std::string path_;
  std::string error_;
};

bool ReadHome(Reader& r, const toml::node& node, const std::string& key, HomeSwitch* home) {
  if (node.is_boolean()) {
    // `home = false`: the axis has no switch (true alone says nothing of where it is).
    if (*node.value<bool>())
      return r.Fail(node, key, "give the switch as { at = .., towards = .. }");
    home->present = false;
    return true;
  }
  const toml::table* t = r.Table(node, key);
  if (t == nullptr || !r.OnlyKeys(*t, key + ".", {"at", "towards"})) return false;
  const toml::node* at = t->get("at");
  if (at == nullptr) return r.Fail(node, key, "needs 'at', where the switch trips");
  std::string towards = home->negative ? "negative" : "positive";
  if (!r.Number(*t, key + ".", "at", &home->at) || !r.Text(*t, key + ".", "towards", &towards)) {
    return false;
  }
  if (towards != "negative" && towards != "positive") {
    return r.Fail(*t->get("towards"), key + ".towards", "must be \"negative\" or \"positive\"");
  }
  home->present = true;
  home->negative = towards == "negative";
  return true;
}

bool ReadAxis(Reader& r, const toml::node& node, int a, MachineSetup* m) {
  const std::string key = std::string("axes.") + kAxisKeys[a];
  const toml::table* t = r.Table(node, key);
  const std::string p = key + ".";
  if (t == nullptr ||
      !r.OnlyKeys(
          *t, p,
          {"steps_per_unit", "velocity", "acceleration", "travel_min", "travel_max", "home"}) ||
      !r.Positive(*t, p, "steps_per_unit", &m->axes[a].stepsPerUnit) ||
      !r.Positive(*t, p, "velocity", &m->axes[a].maxVelocity) ||
      !r.Positive(*t, p, "acceleration", &m->axes[a].acceleration) ||
      !r.Number(*t, p, "travel_min", &m->travel[a].min) ||
      !r.Number(*t, p, "travel_max", &m->travel[a].max)) {
    return false;
  }
  if (m->travel[a].min >= m->travel[a].max) {
    const toml::node* at = t->get("travel_max") ? t->get("travel_max") : t->get("travel_min");
    return r.Fail(at != nullptr ? *at : node, p + "travel_max",
                  "the travel's maximum must lie above its minimum");
  }
  if (const toml::node* home = t->get("home")) {
    if (a >= 4) return r.Fail(*home, p + "home", "only X, Y, Z and A have home inputs");
    if (!ReadHome(r, *home, p + "home", &m->home[a])) return false;
  }
  return true;
}

bool ReadAxes(Reader& r, const toml::node& node, MachineSetup* m) {
  const toml::table* t = r.Table(node, "axes");
  if (t == nullptr || !r.OnlyKeys(*t, "axes.", {"x", "y", "z", "a", "b", "c"})) return false;
  for (int a = 0; a < kHostAxisCount; ++a) {
    if (const toml::node* axis = t->get(kAxisKeys[a]); axis && !ReadAxis(r, *axis, a, m)) {
      return false;
    }
  }
  return true;
}

bool ReadProbe(Reader& r, const toml::node& node, MachineSetup* m) {
  const toml::table* t = r.Table(node, "probe");
  if (t == nullptr || !r.OnlyKeys(*t, "probe.", {"present", "surface_z", "slope_x", "slope_y"})) {
    return false;
  }
  if (const toml::node* present = t->get("present")) {
    if (!present->is_boolean()) return r.Fail(*present, "probe.present", "must be true or false");
    m->probe = *present->value<bool>();
  }
  return r.Number(*t, "probe.", "surface_z", &m->probeSurfaceZ) &&
         r.Number(*t, "probe.", "slope_x", &m->probeSlope[0]) &&
         r.Number(*t, "probe.", "slope_y", &m->probeSlope[1]);
}

bool ReadSpindle(Reader& r, const toml::node& node, MachineSetup* m) {
  const toml::table* t = r.Table(node, "spindle");
  if (t == nullptr || !r.OnlyKeys(*t, "spindle.", {"max_rpm"}) ||
      !r.Positive(*t, "spindle.", "max_rpm", &m->spindleMaxRpm)) {
    return false;
  }
  if (m->spindleMaxRpm <= kHighestSpindleRpm) return true;
  return r.Fail(*t->get("max_rpm"), "spindle.max_rpm", "must be at most 1000000");
}

// [offsets]: G54 .. G59 and G92, each a table of axis values.
bool ReadOffsets(Reader& r, const toml::node& node, WorkOffsets* offsets) {
  const toml::table* t = r.Table(node, "offsets");
  if (t == nullptr ||
      !r.OnlyKeys(*t, "offsets.", {"G54", "G55", "G56", "G57", "G58", "G59", "G92"})) {
    return false;
  }
  for (auto&& [key, value] : *t) {
    const std::string name(key.str());
    const toml::table* axes = r.Table(value, "offsets." + name);
    if (axes == nullptr ||
        !r.OnlyKeys(*axes, "offsets." + name + ".", {"x", "y", "z", "a", "b", "c"})) {
      return false;
    }
    const int system = name == "G92" ? 0 : name[2] - '3';  // G54 is system 1
    for (int a = 0; a < kHostAxisCount; ++a) {
      double v = 0.0;
      if (!r.Number(*axes, "offsets." + name + ".", kAxisKeys[a], &v)) return false;
      if (axes->get(kAxisKeys[a]) == nullptr) continue;
      if (system == 0) {
        offsets->SetG92Offset(a, v);
      } else {
        offsets->SetSystem(system, a, v);
      }
    }
  }
  return true;
}

bool ReadTools(Reader& r, const toml::node& node, MachineFile* file) {
  const toml::array* list = node.as_array();
  if (list == nullptr || !list->is_array_of_tables()) {
    return r.Fail(node, "tool", "must be tables, one [[tool]] per tool");
  }
  for (const toml::node& item : *list) {
    const toml::table& t = *item.as_table();
    ToolEntry tool;
    tool.number = -1;
    if (!r.OnlyKeys(t, "tool.", {"number", "pocket", "diameter", "length"}) ||
        !r.Integer(t, "tool.", "number", 0, kHighestToolNumber, &tool.number) ||
        !r.Integer(t, "tool.", "pocket", 0, kHighestToolNumber, &tool.pocket) ||
        !r.Number(t, "tool.", "diameter", &tool.diameter) ||
        !r.Number(t, "tool.", "length", &tool.length)) {
      return false;
    }
    if (tool.number < 0) return r.Fail(item, "tool", "needs its 'number'");
    if (tool.diameter < 0.0)
      return r.Fail(*t.get("diameter"), "tool.diameter", "must be 0 or more");
    for (const ToolEntry& other : file->tools) {
      if (other.number == tool.number) {
        return r.Fail(*t.get("number"), "tool.number",
                      "tool " + std::to_string(tool.number) + " is given twice");
      }
    }
    file->tools.push_back(tool);
  }
  file->hasTools = true;
  return true;
}

bool ReadCard(Reader& r, const toml::node& node, MachineFile* file) {
  const std::optional<std::string> name = node.value<std::string>();
  for (CardChoice c : {CardChoice::kLorn4, CardChoice::kLorn5, CardChoice::kPell5}) {
    if (name && *name == CardName(c)) {
      file->card = c;
      return true;
    }
  }
  return r.Fail(node, "card", "must be \"lorn4\", \"lorn5\" or \"pell5\"");
}

// The initialization string sets modes only: read alone, it must be a good line that moves
// nothing and does nothing.
bool ReadInit(Reader& r, const toml::node& node, MachineFile* file) {
  if (!node.is_string()) return r.Fail(node, "init", "must be a string in quotes");
  file->init = *node.value<std::string>();
  const Job alone = ParseJob("", {}, {}, file->init);
  if (!alone.errors.empty()) return r.Fail(node, "init", alone.errors.front().message);
  for (char c : file->init) {
    if (c == '\n' || c == '\r') return r.Fail(node, "init", "must be a single line");
  }
  return true;
}

}  // namespace

bool ParseMachineFile(std::string_view text, const std::string& path, MachineFile* file,
                      std::string* error) {
  file->path = path;
  Reader r(path);
  toml::table root;
  try {
    root = toml::parse(text, std::string_view(path));
  } catch (const toml::parse_error& e) {
    *error =
        path + ":" + std::to_string(e.source().begin.line) + ": " + std::string(e.description());
    return false;
  }
  bool ok = r.OnlyKeys(root, "", {"card", "init", "axes", "probe", "spindle", "offsets", "tool"});
  if (ok && root.get("card")) ok = ReadCard(r, *root.get("card"), file);
  if (ok && root.get("init")) ok = ReadInit(r, *root.get("init"), file);
  if (ok && root.get("axes")) ok = ReadAxes(r, *root.get("axes"), &file->machine);
  if (ok && root.get("probe")) ok = ReadProbe(r, *root.get("probe"), &file->machine);
  if (ok && root.get("spindle")) ok = ReadSpindle(r, *root.get("spindle"), &file->machine);
  if (ok && root.get("offsets")) ok = ReadOffsets(r, *root.get("offsets"), &file->offsets);
  if (ok && root.get("tool")) ok = ReadTools(r, *root.get("tool"), file);
  std::string invalid;
  if (ok && !ValidateMachine(file->machine, &invalid)) {
    *error = path + ": " + invalid;
    return false;
  }
  if (!ok) *error = r.error();
  return ok;
}

bool LoadMachineFile(const std::string& path, MachineFile* file, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = "cannot read the machine file " + path;
    return false;
  }
  std::ostringstream text;
  text << in.rdbuf();
  return ParseMachineFile(text.str(), path, file, error);
}

}  // namespace torvexan::sim
