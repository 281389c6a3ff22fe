#pragma once

#include <QByteArray>
#include <optional>

namespace google::protobuf {
class Message;
}

// Reads the frames of a daemon that may be newer than this build. The runtime moves an
// enumeration value that it does not know into the unknown fields, so a newer daemon's value in
// a required field reads as a missing field. Such a frame is still used: each reader decides what
// an unknown value means for its field. A frame that lacks anything else is malformed.
class LenientParser
{
public:
    // True when the body parses and every required field that it lacks, at any depth, is an
    // enumeration field whose value this build does not know.
    static bool parse(google::protobuf::Message& message, const QByteArray& body);
    // The number sent for an enumeration field of the message that this build does not know;
    // none when the field holds no such value.
    static std::optional<int> unknownEnum(const google::protobuf::Message& message,
                                          int fieldNumber);
    // An enumeration field's value as sent: `value` when `known`, else the number that this
    // build does not know, else `value`, the field's default.
    template <typename Enum>
    static Enum asSent(const google::protobuf::Message& message, int fieldNumber, bool known,
                       Enum value)
    {
        return known ? value : Enum(unknownEnum(message, fieldNumber).value_or(int(value)));
    }

private:
    static bool lacksOnlyUnknownEnums(const google::protobuf::Message& message);
};
