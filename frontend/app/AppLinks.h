// AppLinks: every web address the program opens, in one place. The maker's
// pages are placeholders until real ones exist.
#pragma once

namespace kxlinks {
inline constexpr const char* kOnlineManual = "https://kaxon5.example.invalid/manual/";
inline constexpr const char* kAddOns = "https://kaxon5.example.invalid/addons/";
inline constexpr const char* kSupport = "https://kaxon5.example.invalid/support/";
inline constexpr const char* kAuthor = "https://kaxon5.example.invalid/";
inline constexpr const char* kUpdateDescription = "https://kaxon5.example.invalid/pad/kaxon5.xml";
inline constexpr const char* kChangeHistory = "https://kaxon5.example.invalid/changes.txt";
inline constexpr const char* kAmiga = "https://kaxon5.example.invalid/about/amiga";
inline constexpr const char* kPainting = "https://kaxon5.example.invalid/about/picture";
inline constexpr const char* kMail = "mailto:kaxon5@example.invalid";
// The three map services the metadata dialog hands a GPS position to.
inline constexpr const char* kMapOpenStreetMap = "https://osm.example.invalid/";
inline constexpr const char* kMapGoogle = "https://maps.example.invalid/";
inline constexpr const char* kMapLiveSearch = "https://localsearch.example.invalid/";
}  // namespace kxlinks
