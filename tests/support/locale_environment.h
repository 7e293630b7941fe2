// The locale the environment names (LC_ALL), set for the length of a test and put back after.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>

namespace torvexan::testing {

class LocaleEnvironment {
 public:
  explicit LocaleEnvironment(const char* locale) {
    if (const char* old = std::getenv("LC_ALL")) saved_ = old;
    setenv("LC_ALL", locale, 1);
  }
  ~LocaleEnvironment() {
    if (saved_) {
      setenv("LC_ALL", saved_->c_str(), 1);
    } else {
      unsetenv("LC_ALL");
    }
  }
  LocaleEnvironment(const LocaleEnvironment&) = delete;
  LocaleEnvironment& operator=(const LocaleEnvironment&) = delete;

 private:
  std::optional<std::string> saved_;
};

}  // namespace torvexan::testing
