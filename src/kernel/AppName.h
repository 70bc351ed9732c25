// The application name that replaces "%APPNAME%" in every window text.
#pragma once

#include <string>
#include <string_view>

namespace vandrel {

inline constexpr const char* kAppNamePlaceholder = "%APPNAME%";

// Registered once by the program's entry, before any window text is loaded. Main thread only.
void RegisterAppName(std::string name);
const std::string& AppName();
// `text` with every "%APPNAME%" replaced by the registered name (kept as is before registration).
std::string ExpandAppName(std::string_view text);

}  // namespace vandrel
