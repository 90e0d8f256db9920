#pragma once

#include "sending/frmsend.h"
#include "support/testenv.h"
#include "ui/scriptedui.h"

#include <QFile>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>

/// What every send-window test needs: a private settings file, scripted
/// prompts, a folder for files, and no window left open afterwards.
struct SendEnv
{
    TempSettings settings;
    ScriptedUi ui;
    QTemporaryDir dir;

    ~SendEnv()
    {
        const auto open = frmSend::openWindows();
        for (frmSend *w : open) {
            w->IsModified = false;
            delete w;
        }
    }

    QString writeFile(const QString &name, const QByteArray &bytes)
    {
        const QString path = dir.filePath(name);
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
            qFatal("cannot write test file");
        return path;
    }

    /// Closes a window the way its close box does and waits until it is gone.
    static bool closeAndWait(frmSend *w)
    {
        QPointer<frmSend> p(w);
        w->close();
        return QTest::qWaitFor([&] { return p.isNull(); }, 5000);
    }
};
