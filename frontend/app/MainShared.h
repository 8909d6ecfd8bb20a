// MainShared: small pieces the main window's source files share (the
// thumbnail's size, file-name and filter helpers, the catalog read on its
// own thread).
#pragma once

#include <QString>

#include "CatalogHandler.h"

namespace kxmain {

constexpr int kThumbW = 263, kThumbH = 224;

inline QString fileNameOf(const QString& path) { return path.mid(path.lastIndexOf('/') + 1); }

// A file-dialog filter of one extension, both cases.
inline QString filterFor(const QString& name, const QString& ext) {
    QString e = ext.startsWith('.') ? ext.mid(1) : ext;
    return QStringLiteral("%1 (*.%2 *.%3)").arg(name, e.toLower(), e.toUpper());
}

struct ParsedCatalog {
    CatalogHandler catalog;
    bool languageFailed = false;
};

// Reads the catalog of a language, or English when that fails. Runs on the
// catalog thread: plain data only, nothing of the window.
ParsedCatalog parseCatalog(const QString& progdir, const QString& language);

}  // namespace kxmain
