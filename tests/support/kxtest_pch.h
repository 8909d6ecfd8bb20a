// Precompiled once for every GoogleTest binary: the framework and the
// standard headers most tests pull in. Only outside headers belong here, so
// that a change to the library does not rebuild the precompiled header.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>
