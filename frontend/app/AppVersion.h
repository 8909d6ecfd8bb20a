// AppVersion: the program's version and release day, shown by the About box
// and the splash and compared by the update check.
#pragma once

namespace kxversion {
inline constexpr const char* kText = "3.20";
inline constexpr int kReleaseDay = 8, kReleaseMonth = 11, kReleaseYear = 2010;
}  // namespace kxversion
