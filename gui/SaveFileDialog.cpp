#include "gui/SaveFileDialog.h"

#include "data/ProgramSettings.h"
#include "gui/Shell_Unit.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

namespace {
SaveFileNameHandler &handler()
{
    static SaveFileNameHandler h;
    return h;
}
}

void SetSaveFileNameHandler(SaveFileNameHandler h)
{
    handler() = std::move(h);
}

QString WithExtension(const QString &path, const QString &extension)
{
    if (path.isEmpty())
        return path;
    const QString suffix = QLatin1Char('.') + extension;
    return path.endsWith(suffix, Qt::CaseInsensitive) ? path : path + suffix;
}

QString AskSaveFileName(QWidget *parent, const QString &caption, const QString &suggestedName,
                        const QString &extension, const QString &filter)
{
    // Characters a file name cannot hold are left out of the suggestion.
    QString name = suggestedName;
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    QString suggested = QDir(FileDialogStartFolder()).filePath(WithExtension(name, extension));
    for (;;) {
        QString chosen = handler() ? handler()(parent, caption, suggested, filter)
                                   : QFileDialog::getSaveFileName(parent, caption, suggested, filter, nullptr,
                                                                  QFileDialog::DontConfirmOverwrite);
        if (chosen.isEmpty())
            return {};
        chosen = WithExtension(chosen, extension);
        const QFileInfo info(chosen);
        if (info.isDir()) {
            ShowMessage(QStringLiteral("\"%1\" 是一个文件夹，请输入文件名。").arg(QDir::toNativeSeparators(chosen)),
                        caption, QMessageBox::Warning);
            suggested = chosen;
            continue;
        }
        if (info.exists()) {
            if (!ConfirmDestructive(
                    QStringLiteral("文件 \"%1\" 已存在。\n要替换它吗？").arg(QDir::toNativeSeparators(chosen)), caption,
                    QMessageBox::Question))
                return {};
        }
        RememberFileDialogFolder(info.absoluteFilePath());
        return info.absoluteFilePath();
    }
}
