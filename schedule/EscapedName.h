#pragma once

#include <QByteArray>
#include <QString>

// A name that a file, a peer or a user chose, as one line of plain text for the log, the journal
// and the desktop: what a terminal or the journal would take as a line break or a command, and
// bytes that are not UTF-8, are written as escapes, so that one name is one line and two names
// never look alike.
//
// The form is lossless: "\\" is a backslash; "\n", "\r" and "\t" are those controls; "\xHH" is
// the byte HH, used for every other byte that does not stand for itself (other controls, DEL,
// C1 controls, the Unicode line and paragraph separators and direction overrides, and bytes that
// are not UTF-8); every other character is itself.
QString escapedName(const QByteArray& bytes);

// No path the kernel takes is longer: a longer name from a peer is cut here before it is kept.
constexpr qsizetype kMaxNameBytes = 4096;
// The same for a name already held as text, taken as its UTF-8 bytes.
QString escapedName(const QString& text);
