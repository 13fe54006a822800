#pragma once
// Asking for the name of a file to read: one function, which tests answer
// through a handler as they answer message boxes.
#include <QString>
#include <functional>

class QWidget;

// Returns the chosen path, or empty text when the user cancels.
using OpenFileNameHandler = std::function<QString(QWidget *parent, const QString &caption, const QString &filter)>;
void SetOpenFileNameHandler(OpenFileNameHandler handler);

QString AskOpenFileName(QWidget *parent, const QString &caption, const QString &filter);
