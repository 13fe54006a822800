#pragma once
// Reading back what the program wrote with other programs: the text of a PDF
// file through pdftotext, page by page.
#include <QString>
#include <QStringList>

namespace testsupport {

// The text of a PDF file (pdftotext, UTF-8); empty when it cannot be read.
QString pdfText(const QString &path);
// The text of each page of a PDF file.
QStringList pdfPages(const QString &path);

}
