#include "FuzzRecords.h"

#include <limits>

namespace {
constexpr qsizetype kLengthBytes = 2;
constexpr qsizetype kMaxRecordBytes = std::numeric_limits<quint16>::max();
} // namespace

namespace FuzzRecords {

QList<QByteArray> split(const QByteArray& input)
{
    QList<QByteArray> records;
    qsizetype at = 0;
    while (input.size() - at >= kLengthBytes) {
        const auto* bytes = reinterpret_cast<const uchar*>(input.constData() + at);
        const qsizetype length = bytes[0] | (bytes[1] << 8);
        at += kLengthBytes;
        records << input.mid(at, length);
        at += qMin(length, input.size() - at);
    }
    return records;
}

QByteArray join(const QList<QByteArray>& records)
{
    QByteArray input;
    for (const QByteArray& record : records) {
        const QByteArray cut = record.left(kMaxRecordBytes);
        input += char(cut.size() & 0xff);
        input += char(cut.size() >> 8);
        input += cut;
    }
    return input;
}

} // namespace FuzzRecords
