#pragma once

#include <QByteArray>
#include <QList>

// The layout of every fuzz input (after the frame reader's first byte): records, each a 16-bit
// little-endian length and that many bytes; a last record whose length runs past the end takes what
// is left. The records are frame bodies for the dispatch targets and socket reads for the frame
// reader, so that the input, not the harness, decides where one ends and the next begins.
namespace FuzzRecords {

QList<QByteArray> split(const QByteArray& input);
// The inverse of split(), for seeds; longer records are cut to the length field's range.
QByteArray join(const QList<QByteArray>& records);

} // namespace FuzzRecords
