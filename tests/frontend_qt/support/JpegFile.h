// A JPEG file written by our own writer from a buffer record: the picture
// the JPEG-based tests open, edit or transform.
#pragma once

#include <QFile>
#include <QString>

#include "formats/libraries/kxoJFIF.h"
#include "support/QtTestEnv.h"

inline bool WriteJpeg(const QString& path, KX_GfxBuffer* b) {
    kxoJFIF writer(nullptr);
    const QByteArray name = QFile::encodeName(path);
    writer.SetSaveName(name.constData());
    writer.SetGfxBuffer(b);
    const uint32_t err = writer.Save();
    writer.Reset();
    return err == 0;
}
