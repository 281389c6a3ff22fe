#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <memory>

class SocketPair;

// Feeds a byte stream to a link over a real local socket pair, one socket read per record of the
// input, and compares what the link hands on with what a plain reading of the stream holds.
//
// The input's first byte sets the reader's batch to that many bytes beyond a length word, so
// that a short input puts the batch's end anywhere in its frames; the records follow it.
class FrameReaderCheck
{
public:
    FrameReaderCheck();
    ~FrameReaderCheck();

    // An input of this layout.
    static QByteArray input(quint8 batchBeyondLength, const QList<QByteArray>& reads);

    // Empty when the link delivered exactly the stream's frames, in order, and stopped where
    // the stream says; otherwise what went wrong.
    QString run(const QByteArray& input);

private:
    // Kept across inputs while the link leaves it connected: a new connection per input would
    // cost more than the check.
    std::unique_ptr<SocketPair> m_pair;
};
