// FolderWalk: the folder listings behind the slide show and the neighbour
// buttons (sorted by name without regard to case; hidden means a leading
// dot), the neighbours of a file, and the slide show's stepping with its
// history of shown positions. No window: the callers show and load.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>

namespace kxwalk {

// Files of a folder (full paths), directories left out; sorted by name
// without regard to case. withHidden keeps names with a leading dot.
QStringList ListFolder(const QString& folder, bool withHidden);

// A path of a video the slide show plays instead of loading.
bool IsVideo(const QString& path);

// Neighbours of the current file inside its folder. The listing is cached
// per folder; entries that are hidden, or end in ".ini" or ".lnk", are
// stepped over as previous and next.
class Neighbours {
public:
    void Compute(const QString& folder, const QString& fileName);
    void Invalidate() { cachedFolder.clear(); forName.clear(); }
    QString previous, next, first, last;  // full paths, empty when none

private:
    QString cachedFolder;
    QStringList listing;
    QString forName;
};

// The slide show over one listing. load(path) opens a file (true when it
// became the current image); show(path, position, shownCount) displays it
// and returns the viewer's code (0 forward, 1 back, 2 first, 3 last, -1 stop).
struct DiaShowResult {
    bool stopped = false;
    int shownTotal = 0;  // pictures shown over the whole run
};

DiaShowResult RunDiaShow(const QStringList& files, bool loop, const std::function<bool(const QString&)>& load,
                         const std::function<int(const QString&, int position, int shown)>& show);

}  // namespace kxwalk
