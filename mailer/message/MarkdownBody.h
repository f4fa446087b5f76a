#pragma once
// A body typed in Markdown (CommonMark) and its HTML as customers' mail
// programs show it. The rendering never lets the body reach further than the
// message: raw HTML is left out, links of scripting and file schemes are
// emptied (data: ones too, pictures included), and pictures become links to
// them, so opening the message loads nothing from elsewhere.

#include <QString>
#include <QStringList>

namespace og {

// The HTML of a Markdown text (fields already filled in), UTF-8 as the
// message carries it. Throws SendFailure when the renderer fails.
QString markdownToHtml(const QString& markdown);

// A value that goes into Markdown as it stands: every ASCII punctuation
// character gets a backslash, so "*50%* off" stays those characters instead
// of becoming emphasis, and "<b>" text rather than markup.
QString escapeMarkdown(const QString& value);

// Plain text lines (a signature) as Markdown that renders them as they
// stand, line by line: "-- " under a line must not make it a heading.
QString plainTextAsMarkdown(const QStringList& lines);

// The HTML of a Markdown body and its signature: the body up to a line
// "-- " (or "--"), the signature separator, is Markdown; what follows it and
// then the signature's lines are plain text, rendered once, as a block of
// their own after the body. The separator never underlines the body's last
// paragraph into a heading.
QString markdownWithSignatureToHtml(const QString& markdown, const QStringList& signature);

} // namespace og
