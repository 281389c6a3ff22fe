#include "EscapedName.h"

#include <algorithm>
#include <array>

namespace {

constexpr char32_t kInvalid = 0xffffffff;

// The lead bytes of multi-byte sequences: the bits that mark them, the sequence's length, and
// the smallest code point it may encode (anything less is an overlong form).
struct Lead
{
    uchar mask;
    uchar value;
    qsizetype size;
    char32_t smallest;
};
constexpr std::array<Lead, 3> kLeads{{
    {0xe0, 0xc0, 2, 0x80},
    {0xf0, 0xe0, 3, 0x800},
    {0xf8, 0xf0, 4, 0x10000},
}};

// The code point of the UTF-8 sequence at `at`, and its length; kInvalid and length 1 for a byte
// that does not start a valid, shortest-form sequence.
char32_t decodeAt(const QByteArray& bytes, qsizetype at, qsizetype* length)
{
    const auto byte = [&bytes](qsizetype place) { return uchar(bytes.at(place)); };
    const uchar lead = byte(at);
    *length = 1;
    if (lead < 0x80) {
        return lead;
    }
    const auto known = std::find_if(kLeads.begin(), kLeads.end(), [lead](const Lead& candidate) {
        return (lead & candidate.mask) == candidate.value;
    });
    if (known == kLeads.end()) {
        return kInvalid;
    }
    const qsizetype size = known->size;
    char32_t point = char32_t(lead & ~known->mask);
    const char32_t smallest = known->smallest;
    if (at + size > bytes.size()) {
        return kInvalid;
    }
    for (qsizetype next = 1; next < size; ++next) {
        if ((byte(at + next) & 0xc0) != 0x80) {
            return kInvalid;
        }
        point = (point << 6) | (byte(at + next) & 0x3f);
    }
    if (point < smallest || point > 0x10ffff || (point >= 0xd800 && point <= 0xdfff)) {
        return kInvalid;
    }
    *length = size;
    return point;
}

// Characters that break a line, move the cursor, start a terminal command or turn the text
// around on the screen.
bool standsForItself(char32_t point)
{
    if (point < 0x20 || (point >= 0x7f && point <= 0x9f)) {
        return false;
    }
    return point != 0x2028 && point != 0x2029 && !(point >= 0x202a && point <= 0x202e) &&
           !(point >= 0x2066 && point <= 0x2069);
}

void appendByteEscape(QString* out, uchar byte)
{
    static const char kDigits[] = "0123456789abcdef";
    out->append(QLatin1String("\\x"));
    out->append(QLatin1Char(kDigits[byte >> 4]));
    out->append(QLatin1Char(kDigits[byte & 0x0f]));
}

} // namespace

QString escapedName(const QByteArray& bytes)
{
    QString out;
    out.reserve(bytes.size());
    for (qsizetype at = 0; at < bytes.size();) {
        qsizetype length = 1;
        const char32_t point = decodeAt(bytes, at, &length);
        if (point == U'\\') {
            out.append(QLatin1String("\\\\"));
        } else if (point == U'\n') {
            out.append(QLatin1String("\\n"));
        } else if (point == U'\r') {
            out.append(QLatin1String("\\r"));
        } else if (point == U'\t') {
            out.append(QLatin1String("\\t"));
        } else if (point != kInvalid && standsForItself(point)) {
            const char32_t one[] = {point};
            out.append(QString::fromUcs4(one, 1));
        } else {
            for (qsizetype place = at; place < at + length; ++place) {
                appendByteEscape(&out, uchar(bytes.at(place)));
            }
        }
        at += length;
    }
    return out;
}

QString escapedName(const QString& text)
{
    return escapedName(text.toUtf8());
}
