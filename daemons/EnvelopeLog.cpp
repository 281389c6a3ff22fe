#include "EnvelopeLog.h"

#include <google/protobuf/descriptor.h>
#include <google/protobuf/message.h>
#include <google/protobuf/text_format.h>

#include <QStringList>
#include <cstdio>
#include <vector>

namespace {
// Ends each envelope's block in the record file.
constexpr char kRecordSeparator[] = "---\n";
} // namespace

EnvelopeLog::EnvelopeLog(const QString& name) : m_name(name) {}

bool EnvelopeLog::openRecord(const QString& path)
{
    m_record.setFileName(path);
    if (!m_record.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
        note(
            QStringLiteral("cannot open the record file %1: %2").arg(path, m_record.errorString()));
        return false;
    }
    return true;
}

void EnvelopeLog::received(const google::protobuf::Message& envelope)
{
    note(QStringLiteral("<- ") + summary(envelope));
    if (m_record.isOpen()) {
        m_record.write(QByteArray::fromStdString(envelope.DebugString()));
        m_record.write(kRecordSeparator);
        m_record.flush();
    }
}

void EnvelopeLog::sent(const google::protobuf::Message& envelope)
{
    note(QStringLiteral("-> ") + summary(envelope));
}

void EnvelopeLog::note(const QString& line) const
{
    std::fprintf(stderr, "%s: %s\n", m_name.toLocal8Bit().constData(),
                 line.toLocal8Bit().constData());
}

QString EnvelopeLog::summary(const google::protobuf::Message& envelope)
{
    using google::protobuf::FieldDescriptor;
    const google::protobuf::Reflection* reflection = envelope.GetReflection();
    std::vector<const FieldDescriptor*> fields;
    reflection->ListFields(envelope, &fields);

    google::protobuf::TextFormat::Printer printer;
    printer.SetSingleLineMode(true);
    QStringList parts;
    for (const FieldDescriptor* field : fields) {
        const QString name = QString::fromStdString(field->name());
        if (field->is_repeated()) {
            parts << QStringLiteral("%1[%2]").arg(name).arg(reflection->FieldSize(envelope, field));
            continue;
        }
        std::string value;
        printer.PrintFieldValueToString(envelope, field, -1, &value);
        QString text = QString::fromStdString(value).trimmed();
        if (field->cpp_type() == FieldDescriptor::CPPTYPE_MESSAGE) {
            text = QLatin1Char('{') + text + QLatin1Char('}');
        }
        // Fields come in number order, so the tag (number 1) comes first and stands bare.
        parts << (field->number() == 1 ? text : name + QLatin1Char('=') + text);
    }
    return parts.join(QLatin1Char(' '));
}
