// One line for whoever watches the process's debug output: the debugger's output window on
// Windows (OutputDebugStringA), standard error elsewhere.
#pragma once

#include <string_view>

namespace torvexan {

void WriteDebugLine(std::string_view line);

}  // namespace torvexan
