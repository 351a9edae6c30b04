#pragma once

// The completion list of the code editor: template directives after "@" in Blade templates, HTML
// tag names after "<", attribute names inside an open tag. Only HTML-capable files get any.

#include <QString>
#include <QStringList>

namespace CodeCompletionProvider {

const QStringList& bladeDirectives();
const QStringList& htmlTags();
const QStringList& htmlAttributes();

bool supportsHTML(const QString& fileName);

// `prefix` is the whole text from its start to the caret, `partialWord` the word being completed,
// already lower-cased.
QStringList suggestions(const QString& fileName, const QString& prefix, const QString& partialWord);
// The same, reading only the stretch of `prefix` back to its last "@" (Blade), "<" or ">".
QStringList suggestions(const QString& fileName, QStringView prefix, const QString& partialWord);

// Entries starting with `partial`, then those containing it elsewhere, each in list order.
QStringList filtered(const QStringList& list, const QString& partial);

// Whitespace as the completion rules see it: spaces, tabs, line breaks, any Unicode separator.
bool isWhitespace(QChar c);

} // namespace CodeCompletionProvider
