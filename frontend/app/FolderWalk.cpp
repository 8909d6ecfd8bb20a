#include "FolderWalk.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>

namespace kxwalk {

QStringList ListFolder(const QString& folder, bool withHidden) {
    QDir dir(folder);
    QDir::Filters filters = QDir::Files | QDir::NoDotAndDotDot;
    if (withHidden) filters |= QDir::Hidden;
    const QStringList names = dir.entryList(filters, QDir::Name | QDir::IgnoreCase);
    QStringList out;
    for (const QString& n : names) {
        if (!withHidden && n.startsWith('.')) continue;
        out << dir.filePath(n);
    }
    return out;
}

bool IsVideo(const QString& path) {
    static const char* const kinds[] = {".mpg", ".mpeg", ".m1v", ".m2v", ".avi", ".asf", ".wmv",
                                        ".mp4", ".mov",  ".3gp", ".3g2", ".m2ts", ".m2t", ".mts"};
    const QString rest = path.mid(1);
    for (const char* k : kinds)
        if (rest.contains(QLatin1String(k))) return true;
    return false;
}

void Neighbours::Compute(const QString& folder, const QString& fileName) {
    if (folder != cachedFolder) {
        cachedFolder = folder;
        listing = ListFolder(folder, true);
        forName.clear();
    }
    if (fileName == forName && !forName.isEmpty()) return;
    forName = fileName;
    previous.clear();
    next.clear();
    auto skipped = [](const QString& path) {
        const QString name = path.mid(path.lastIndexOf('/') + 1);
        return name.startsWith('.') || name.endsWith(QLatin1String(".ini")) || name.endsWith(QLatin1String(".lnk"));
    };
    QStringList usable;
    for (const QString& p : listing)
        if (!skipped(p)) usable << p;
    for (int i = 0; i < usable.size(); ++i) {
        if (usable[i].mid(usable[i].lastIndexOf('/') + 1) != fileName) continue;
        if (i > 0) previous = usable[i - 1];
        if (i + 1 < usable.size()) next = usable[i + 1];
        break;
    }
    first = usable.isEmpty() ? QString() : usable.first();
    last = usable.isEmpty() ? QString() : usable.last();
    const QString current = QDir(folder).filePath(fileName);
    if (first == current) first.clear();
    if (last == current) last.clear();
}

DiaShowResult RunDiaShow(const QStringList& files, bool loop, const std::function<bool(const QString&)>& load,
                         const std::function<int(const QString&, int, int)>& show) {
    DiaShowResult r;
    const int n = int(files.size());
    std::vector<int> history(size_t(n) + 1, 0);
    for (;;) {
        int shown = 0;
        int i = 0;
        bool anyShown = false;
        while (i < n) {
            const QString& path = files[i];
            const bool ok = load(path);
            if (!ok && !IsVideo(path)) {
                ++i;
                continue;
            }
            ++shown;
            ++r.shownTotal;
            anyShown = true;
            history[size_t(shown)] = i;
            const int code = show(path, i + 1, shown);
            if (code == -1) {
                r.stopped = true;
                return r;
            }
            if (code == 1) {
                if (shown >= 2) {
                    // The previously shown file comes next, counted as it was.
                    i = history[size_t(shown - 1)];
                    shown -= 2;
                } else {
                    i = 0;
                    shown = 0;
                }
                continue;
            }
            if (code == 2) {
                i = 0;
                shown = 0;
                continue;
            }
            ++i;
        }
        // A looping show over a folder where nothing opens would never end.
        if (!loop || !anyShown) return r;
    }
}

}  // namespace kxwalk

