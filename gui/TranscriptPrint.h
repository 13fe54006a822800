#pragma once
// Printing a student's transcript: the school header, the student's number,
// name, class and college, their scores by term with subject names, marks and
// credits, the credits earned and the credit-weighted average mark.
#include "data/export/TableExport.h"
#include "data/export/Transcript.h"

#include <QDate>

class QPagedPaintDevice;
class QWidget;

namespace dravon { class Connection; }

// The title printed under the school's name.
QString TranscriptTitle();

// Paints the transcript on a paged device; returns the number of pages.
int PaintTranscript(QPagedPaintDevice *device, const exporting::Transcript &transcript, const QString &school,
                    const QDate &printed);

// Writes the transcript as a PDF file (staged, so a failure leaves no file).
// Throws exporting::ExportFailure naming the file and the reason.
void WriteTranscriptPdf(const exporting::Transcript &transcript, const QString &school, const QString &path);

// "打印成绩单…": the current student's transcript in the print preview, from
// which it is printed or printed to a PDF file. A student that cannot be
// read is reported through the message box.
void PrintTranscript(QWidget *parent, dravon::Connection &connection, const QString &studentId);
