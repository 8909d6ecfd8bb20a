// AppVersion: the program's version and release day, shown by the About box
// and the splash and compared by the update check. A build may stamp the
// release day (KX_RELEASE_DATE in frontend/app/CMakeLists.txt); without it
// the day below holds.
#pragma once

namespace kxversion {
inline constexpr const char* kText = "1.0";
#if defined(KX_RELEASE_YEAR) && defined(KX_RELEASE_MONTH) && defined(KX_RELEASE_DAY)
inline constexpr int kReleaseDay = KX_RELEASE_DAY, kReleaseMonth = KX_RELEASE_MONTH, kReleaseYear = KX_RELEASE_YEAR;
#else
inline constexpr int kReleaseDay = 11, kReleaseMonth = 12, kReleaseYear = 2026;
#endif
}  // namespace kxversion
