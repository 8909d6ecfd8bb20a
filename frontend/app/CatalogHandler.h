// CatalogHandler: one language catalog of the main window, read with the
// core's control-pad reader. Keys that are empty or begin with ';', a line
// feed or a carriage return are skipped; the first value of a key counts;
// "\n", "\r" and "\t" in values become control characters (one pass, left
// to right, so "\\\\n" is a backslash and a line feed). Plain Qt types only,
// so a catalog read on a worker thread can be handed to the window.
#pragma once

#include <QHash>
#include <QString>

class CatalogHandler {
public:
    CatalogHandler() = default;
    // Reads progdir + "/" + relativePath.
    CatalogHandler(const QString& progdir, const QString& relativePath);

    // 0 on success, 2 for an empty path, 3 when the path cannot be turned
    // into 8-bit text, 4 when the file cannot be read or holds no entry.
    int LoadLocale(const QString& fullPath);

    QString GetString(const QString& fallback, const QString& key) const;
    // Null QString when the key is missing.
    QString GetString(const QString& key) const;
    bool Contains(const QString& key) const { return locale.contains(key); }
    int Count() const { return locale.size(); }

    static QString ApplyEscapes(const QByteArray& value);
    static QString CatalogPath(const QString& language);

    int retval = 2;
    QString progdir;

private:
    QHash<QString, QString> locale;
};
