// MainShared: small pieces the main window's source files share (the
// thumbnail's size, file-name and filter helpers, the catalog read on its
// own thread).
#pragma once

#include <QString>
#include <QStringList>

#include "CatalogHandler.h"

namespace kxmain {

constexpr int kThumbW = 263, kThumbH = 224;

inline QString fileNameOf(const QString& path) { return path.mid(path.lastIndexOf('/') + 1); }

// A file-dialog filter of a format's endings, both cases:
// "JPEG (*.jpg *.jpeg *.JPG *.JPEG)".
inline QString filterFor(const QString& name, const QStringList& endings) {
    QStringList lower, upper;
    for (const QString& e : endings) {
        const QString bare = e.startsWith('.') ? e.mid(1) : e;
        lower << QStringLiteral("*.") + bare.toLower();
        upper << QStringLiteral("*.") + bare.toUpper();
    }
    return QStringLiteral("%1 (%2)").arg(name, (lower + upper).join(QLatin1Char(' ')));
}

struct ParsedCatalog {
    CatalogHandler catalog;
    bool languageFailed = false;
};

// Reads the catalog of a language, or English when that fails. Runs on the
// catalog thread: plain data only, nothing of the window.
ParsedCatalog parseCatalog(const QString& progdir, const QString& language);

}  // namespace kxmain
