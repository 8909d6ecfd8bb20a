// AppLinks: every web address the program opens, in one place. The maker's
// pages are placeholders until real ones exist.
#pragma once

namespace kxlinks {
inline constexpr const char* kOnlineManual = "https://kaxon5.example.invalid/manual/";
inline constexpr const char* kAddOns = "https://kaxon5.example.invalid/addons/";
inline constexpr const char* kSupport = "https://kaxon5.example.invalid/support/";
inline constexpr const char* kAuthor = "https://kaxon5.example.invalid/";
inline constexpr const char* kUpdateDescription = "https://kaxon5.example.invalid/pad/kaxon5.xml";
}  // namespace kxlinks
