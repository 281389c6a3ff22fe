#pragma once

#include <QByteArray>
#include <QString>
#include <memory>

class SocketPair;

// Feeds a byte stream to a link over a real local socket pair, one socket read per record of the
// input, and compares what the link hands on with what a plain reading of the stream holds.
class FrameReaderCheck
{
public:
    FrameReaderCheck();
    ~FrameReaderCheck();

    // Empty when the link delivered exactly the stream's frames, in order, and stopped where
    // the stream says; otherwise what went wrong.
    QString run(const QByteArray& input);

private:
    // Kept across inputs while the link leaves it connected: a new connection per input would
    // cost more than the check.
    std::unique_ptr<SocketPair> m_pair;
};
