#include "platform/debug_output.h"

#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <cstdio>
#endif

namespace torvexan {

void WriteDebugLine(std::string_view line) {
  std::string text(line);
  text.push_back('\n');
#ifdef _WIN32
  OutputDebugStringA(text.c_str());
#else
  std::fwrite(text.data(), 1, text.size(), stderr);
#endif
}

}  // namespace torvexan
