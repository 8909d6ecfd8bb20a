// Precompiled once for every Qt test binary: Qt Test, Qt Widgets and the
// standard headers. Only outside headers belong here, so that a change to
// the program does not rebuild the precompiled header.
#pragma once

#include <QtCore>
#include <QtGui>
#include <QtTest>
#include <QtWidgets>

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>
