#pragma once

#include <QFile>
#include <QString>

namespace google::protobuf {
class Message;
}

// The stand-in daemons' trace: one stderr line per envelope received or answered, prefixed with
// the daemon's name so that its lines stand out among the runner's, and optionally every received
// envelope in text form appended to a record file that end-to-end tests read back.
class EnvelopeLog
{
public:
    explicit EnvelopeLog(const QString& name);

    // Reports its own failure on stderr.
    bool openRecord(const QString& path);

    void received(const google::protobuf::Message& envelope);
    void sent(const google::protobuf::Message& envelope);
    void note(const QString& line) const;

    // The tag's name, then each other field that is set: scalars and single records as
    // name=value, lists as name[count].
    static QString summary(const google::protobuf::Message& envelope);

private:
    QString m_name;
    QFile m_record;
};
