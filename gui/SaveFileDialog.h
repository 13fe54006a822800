#pragma once
// Asking for the name of a file to write: one function, which tests answer
// through a handler as they answer message boxes. The extension is appended
// when it is missing, and replacing an existing file is asked first.
#include <QString>
#include <functional>

class QWidget;

// Returns the chosen path, or empty text when the user cancels.
using SaveFileNameHandler = std::function<QString(QWidget *parent, const QString &caption, const QString &suggested,
                                                  const QString &filter)>;
void SetSaveFileNameHandler(SaveFileNameHandler handler);

// Asks for a file name to write (extension without the dot: "xlsx"), starting
// in the folder of the last file chosen (see FileDialogStartFolder). Returns
// the full path with the extension, or empty text when the user cancels or
// does not want an existing file replaced.
QString AskSaveFileName(QWidget *parent, const QString &caption, const QString &suggestedName,
                        const QString &extension, const QString &filter);

// The path with ".extension" appended unless it already ends so (any case).
QString WithExtension(const QString &path, const QString &extension);
