#include "gui/OpenFileDialog.h"

#include <QFileDialog>
#include <QFileInfo>

namespace {
OpenFileNameHandler &handler()
{
    static OpenFileNameHandler h;
    return h;
}

// The folder the last file was read from, offered next time.
QString &lastFolder()
{
    static QString folder;
    return folder;
}
}

void SetOpenFileNameHandler(OpenFileNameHandler h)
{
    handler() = std::move(h);
}

QString AskOpenFileName(QWidget *parent, const QString &caption, const QString &filter)
{
    const QString chosen = handler() ? handler()(parent, caption, filter)
                                     : QFileDialog::getOpenFileName(parent, caption, lastFolder(), filter);
    if (!chosen.isEmpty())
        lastFolder() = QFileInfo(chosen).absolutePath();
    return chosen;
}
