#pragma once
// Printing a student's transcript: the school header, the student's number,
// name, sex, enrolment date, class and college, their scores by term with
// subject names, marks, credits, the credits each mark earned and remarks
// saying why a mark earned none, the credits earned and the credit-weighted
// average mark with the marks it counts.
#include "data/export/TableExport.h"
#include "data/export/Transcript.h"
#include "gui/PdfTextMap.h"

#include <QDate>

class QPagedPaintDevice;
class QWidget;

namespace dravon { class Connection; }

// The title printed under the school's name.
QString TranscriptTitle();
// The document's name: title, student number and name.
QString TranscriptDocumentName(const exporting::Transcript &transcript);

// Paints the transcript on a paged device; returns the number of pages.
// rare, when given, receives the rare characters of the painted texts.
int PaintTranscript(QPagedPaintDevice *device, const exporting::Transcript &transcript, const QString &school,
                    const QDate &printed, RareCharacters *rare = nullptr);

// Writes the transcript as a PDF file (staged, so a failure leaves no file).
// Throws exporting::ExportFailure naming the file and the reason.
void WriteTranscriptPdf(const exporting::Transcript &transcript, const QString &school, const QString &path);

// "导出为 PDF…" of the transcript: asks for the file name and writes it,
// reporting the outcome through the message box.
void ExportTranscriptPdf(QWidget *parent, const exporting::Transcript &transcript, const QString &school);

// "打印成绩单…": the current student's transcript in the print preview, from
// which it is printed, printed to a PDF file, or exported as PDF
// ("导出为 PDF…" in the preview's tool bar). A student that cannot be read is
// reported through the message box.
void PrintTranscript(QWidget *parent, dravon::Connection &connection, const QString &studentId);
