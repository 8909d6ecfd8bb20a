#include "support/QtTestEnv.h"

#include <QFile>
#include <QFileInfo>
#include <QTextStream>

#include "core/kxlib.h"

namespace {
void copyTree(const QString& from, const QString& to) {
    QDir src(from);
    QDir().mkpath(to);
    for (const QFileInfo& fi : src.entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot)) {
        if (fi.isDir()) copyTree(fi.filePath(), to + "/" + fi.fileName());
        else QFile::copy(fi.filePath(), to + "/" + fi.fileName());
    }
}
}  // namespace

Sandbox::Sandbox(const QStringList& extraSettings) {
    copyTree(QStringLiteral(KX_SOURCE_DIR "/Resources/Locale"), progDir() + "/Resources/Locale");
    QDir().mkpath(progDir() + "/ENV/Kaxon5-Library");
    QDir().mkpath(userHome());
    QDir().mkpath(lockDir());
    QDir().mkpath(pictures());
    writeSettings(extraSettings);
}

void Sandbox::writeSettings(const QStringList& lines) const {
    QDir().mkpath(envDir());
    QFile f(envDir() + "Kaxon5.controlpad");
    f.open(QIODevice::WriteOnly | QIODevice::Truncate);
    QTextStream out(&f);
    // Tests never reach the network.
    out << "ONLINE_UPDATE=NO\n";
    for (const QString& l : lines) out << l << "\n";
}

void Sandbox::writeCatalog(const QString& language, const QStringList& lines) const {
    const QString folder = progDir() + "/Resources/Locale/Catalogs/" + language;
    QDir().mkpath(folder);
    QFile f(folder + "/KX5_Main.catalog");
    f.open(QIODevice::WriteOnly | QIODevice::Truncate);
    QTextStream out(&f);
    for (const QString& l : lines) out << l << "\n";
}

MainOptions Sandbox::options(ScriptedUi* ui, const QString& file) const {
    MainOptions o;
    o.arguments = QStringList{QStringLiteral("kaxon5")};
    if (!file.isEmpty()) o.arguments << file;
    o.programDir = progDir();
    o.userHome = userHome();
    o.lockDir = lockDir();
    o.ui = ui;
    // The About splash is tested on its own; here it would only cover the window.
    o.splash = false;
    // The update check asked for from the menu goes to a closed local port.
    o.updateAddress = QUrl(QStringLiteral("http://127.0.0.1:1/pad.xml"));
    return o;
}

QByteArray ReadBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool WriteBytes(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

bool WritePPM(const QString& path, const QImage& image) {
    QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    f.write(QStringLiteral("P6\n%1 %2\n255\n").arg(rgb.width()).arg(rgb.height()).toLatin1());
    for (int y = 0; y < rgb.height(); ++y) f.write(reinterpret_cast<const char*>(rgb.constScanLine(y)), rgb.width() * 3);
    return true;
}

QImage TestPicture(int w, int h) {
    QImage img(w, h, QImage::Format_RGB888);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) img.setPixelColor(x, y, QColor((x * 255) / std::max(1, w - 1), (y * 255) / std::max(1, h - 1), 128));
    img.setPixelColor(0, 0, Qt::white);
    return img;
}

QString ArtefactDir() {
    QString d = QStringLiteral(KX_BINARY_DIR "/artefacts");
    QDir().mkpath(d);
    return d;
}

bool OperatorReady(uint32_t number) {
    uint32_t count = 0;
    const KXOperatorReg* regs = KX_OperatorRegs(&count);
    for (uint32_t i = 0; i < count; ++i)
        if (regs[i].Number == number) return KX_IsBuilt(regs[i].ClassName);
    return false;
}

bool ReaderReady(const char* className) {
    const KXFormatReg* r = KX_FindFormatReg(className);
    return r && KX_IsBuilt(r->ClassName);
}

KX_GfxBuffer* MakeGfx(uint32_t w, uint32_t h, uint32_t depth, uint32_t type) {
    uint32_t bytes = type == BITPLANE ? ((w + 7) / 8) * h * depth : w * h * (depth == 48 ? 6 : depth == 24 ? 3 : 1);
    KX_GfxBuffer* b = nullptr;
    if (KXSUP_AllocGfxBuffer(&b, 4, bytes, MEMF_CLEAR)) return nullptr;
    b->Type = type;
    b->Width = w;
    b->Height = h;
    b->ColorDepth = depth;
    b->ViewMode = KXVIEWMODE_NONE;
    b->PixelBits = type == ONEPLANE ? (depth > 8 ? depth : 8) : 0;
    b->BytesPerLine = type == BITPLANE ? (w + 7) / 8 : 0;
    return b;
}

QPoint UprightPos(int o, int x, int y, int w, int h) {
    switch (o) {
    case 2: return {w - 1 - x, y};
    case 3: return {w - 1 - x, h - 1 - y};
    case 4: return {x, h - 1 - y};
    case 5: return {y, x};
    case 6: return {h - 1 - y, x};
    case 7: return {h - 1 - y, w - 1 - x};
    case 8: return {y, w - 1 - x};
    default: return {x, y};
    }
}
