#pragma once

// Regular-expression colouring of source text, chosen by the file name's suffix. No parser and no
// state: every call starts from the base colour and paints every match of every chosen rule in a
// fixed order, so a later rule wins where matches overlap; strings and comments come last.

#include "workspace/CodeEditorTheme.h"

#include <QByteArray>
#include <QList>
#include <QRegularExpression>
#include <QString>

namespace CodeSyntaxHighlighter {

struct Rule {
    QString pattern;  // ICU syntax
    CodeEditorTheme::Role color;
    unsigned options; // 1 case-insensitive, 8 dot matches line separators, 16 anchors match lines
};

const QList<Rule>& commonRules();
const QList<Rule>& phpRules();
const QList<Rule>& htmlRules();
const QList<Rule>& javascriptRules();
const QList<Rule>& cssRules();
const QList<Rule>& jsonRules();
const QList<Rule>& stringAndCommentRules();

// The rules for a file name, in the order they are painted.
QList<Rule> rulesFor(const QString& fileName);

// The colour of every UTF-16 unit of `text` (a CodeEditorTheme::Role each).
QByteArray apply(const QString& text, const QString& fileName);

// An ICU pattern with its options as a QRegularExpression giving the same matches.
QRegularExpression compile(const QString& icuPattern, unsigned options);

// The rule's pattern compiled once for the process (and optimised), shared by every thread.
const QRegularExpression& compiled(const Rule& rule);

} // namespace CodeSyntaxHighlighter
