#pragma once
// The text map of the PDF files Qt's PDF writer makes (grid printouts,
// transcripts, "打印到文件(PDF)"): what text search and copying find in them.
// The writer gets two things wrong, and RepairPdfTextMap mends both:
// - for a glyph that a CJK font shares between a radical and its ideograph
//   (页 and ⻚) it names the radical, so search finds nothing and copying
//   gives radicals;
// - it names no character for glyphs of characters beyond the Basic
//   Multilingual Plane (the rare characters of names, such as 𠀀), so those
//   vanish from copied text.
#include <QFont>
#include <QSet>
#include <QString>

// The characters beyond the Basic Multilingual Plane among painted texts,
// each once, in the order first seen.
class RareCharacters
{
public:
    void note(const QString &text);
    QString text() const { return m_text; }
    bool isEmpty() const { return m_text.isEmpty(); }

private:
    QSet<char32_t> m_seen;
    QString m_text;
};

// Mends the text map of the PDF file at path. The radicals are renamed in
// place; the rare characters, painted in font (plain or bold, any size),
// are found among the file's unnamed glyphs by their outlines and named in
// an update appended to the file. False when the file cannot be read or
// written.
bool RepairPdfTextMap(const QString &path, const QFont &font = QFont(), const RareCharacters &rare = {});
