// A small reader of rich text (RTF) for the about box: text, paragraphs, line breaks, tabs,
// bold, italic, underline, font size, colour from the colour table, \'hh (code pages 1250 and
// 1252) and \u escapes. Pictures, font tables, style sheets and other destinations are skipped.
#pragma once

#include <QByteArray>
#include <QString>

namespace korvan::app {

// HTML for a QTextDocument; plain text that is not RTF comes back escaped, as it is.
QString rtfToHtml(const QByteArray& rtf);

}  // namespace korvan::app
