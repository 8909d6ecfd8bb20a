#include "CatalogHandler.h"

#include <QFile>

#include "core/kxlib.h"

CatalogHandler::CatalogHandler(const QString& dir, const QString& relativePath) : progdir(dir) {
    retval = LoadLocale(progdir + "/" + relativePath);
}

QString CatalogHandler::CatalogPath(const QString& language) {
    return QStringLiteral("Resources/Locale/Catalogs/") + language + QStringLiteral("/KX5_Main.catalog");
}

QString CatalogHandler::ApplyEscapes(const QByteArray& value) {
    QByteArray out;
    out.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        char c = value[i];
        if (c == '\\' && i + 1 < value.size()) {
            char n = value[i + 1];
            if (n == 'n' || n == 'r' || n == 't') {
                out.append(n == 'n' ? '\n' : n == 'r' ? '\r' : '\t');
                ++i;
                continue;
            }
            // Any other pair stays; its second character is scanned on, so
            // "\\n" gives a backslash and a line feed.
            out.append(c);
            continue;
        }
        out.append(c);
    }
    return QString::fromUtf8(out);
}

int CatalogHandler::LoadLocale(const QString& fullPath) {
    locale.clear();
    if (fullPath.isEmpty()) return 2;
    QByteArray path = QFile::encodeName(fullPath);
    if (path.isEmpty() || path.contains('\0')) return 3;
    KX_ControlPad* pad = nullptr;
    if (!KXSUP_LoadControlPad(path.constData(), &pad) || !pad) return 4;
    for (KX_ControlPad* line = pad; line; line = line->Next) {
        const char* key = line->Key;
        if (!key || !*key || *key == ';' || *key == '\n' || *key == '\r') continue;
        QString k = QString::fromUtf8(key);
        if (locale.contains(k)) continue;
        locale.insert(k, ApplyEscapes(QByteArray(line->Value ? line->Value : "")));
    }
    KXSUP_FreeControlPad(pad);
    return locale.isEmpty() ? 4 : 0;
}

QString CatalogHandler::GetString(const QString& fallback, const QString& key) const {
    auto it = locale.constFind(key);
    return it == locale.constEnd() ? fallback : *it;
}

QString CatalogHandler::GetString(const QString& key) const {
    auto it = locale.constFind(key);
    return it == locale.constEnd() ? QString() : *it;
}
