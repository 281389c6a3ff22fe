#include "LenientParser.h"

#include <google/protobuf/descriptor.h>
#include <google/protobuf/message.h>
#include <google/protobuf/unknown_field_set.h>
#include <vector>

using google::protobuf::Descriptor;
using google::protobuf::FieldDescriptor;
using google::protobuf::Message;
using google::protobuf::Reflection;
using google::protobuf::UnknownField;
using google::protobuf::UnknownFieldSet;

bool LenientParser::parse(Message& message, const QByteArray& body)
{
    if (!message.ParsePartialFromArray(body.constData(), int(body.size()))) {
        return false;
    }
    // The walk over the fields is for the rare frame only: a complete one needs none.
    return message.IsInitialized() || lacksOnlyUnknownEnums(message);
}

std::optional<int> LenientParser::unknownEnum(const Message& message, int fieldNumber)
{
    const UnknownFieldSet& unknown = message.GetReflection()->GetUnknownFields(message);
    std::optional<int> value;
    // The last value sent for a field is the one that counts, as for known values.
    for (int i = 0; i < unknown.field_count(); ++i) {
        const UnknownField& field = unknown.field(i);
        if (field.number() == fieldNumber && field.type() == UnknownField::TYPE_VARINT) {
            // Enumeration values travel as 32-bit integers sign-extended to 64 bits.
            value = int(qint32(field.varint()));
        }
    }
    return value;
}

bool LenientParser::lacksOnlyUnknownEnums(const Message& message)
{
    const Descriptor* descriptor = message.GetDescriptor();
    const Reflection* reflection = message.GetReflection();
    for (int i = 0; i < descriptor->field_count(); ++i) {
        const FieldDescriptor* field = descriptor->field(i);
        if (field->is_required() && !reflection->HasField(message, field) &&
            (field->cpp_type() != FieldDescriptor::CPPTYPE_ENUM ||
             !unknownEnum(message, field->number()))) {
            return false;
        }
    }
    std::vector<const FieldDescriptor*> present;
    reflection->ListFields(message, &present);
    for (const FieldDescriptor* field : present) {
        if (field->cpp_type() != FieldDescriptor::CPPTYPE_MESSAGE) {
            continue;
        }
        if (!field->is_repeated()) {
            if (!lacksOnlyUnknownEnums(reflection->GetMessage(message, field))) {
                return false;
            }
            continue;
        }
        for (int n = 0; n < reflection->FieldSize(message, field); ++n) {
            if (!lacksOnlyUnknownEnums(reflection->GetRepeatedMessage(message, field, n))) {
                return false;
            }
        }
    }
    return true;
}
