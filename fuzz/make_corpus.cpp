// Writes the seed corpus of every fuzz target and their dictionaries under the directory given:
// <dir>/<target>/ holds the seeds, <dir>/<target>.dict the dictionary. The seeds are valid
// messages of every tag, filled field by field from the definitions so that they follow any
// change of the protocol.

#include "FrameReaderCheck.h"
#include "FuzzRecords.h"
#include "IPCLink.h"
#include "TestSupport.h"
#include "configd_public_ipc.pb.h"
#include "fcheck_client_ipc.pb.h"

#include <QDir>
#include <QFile>
#include <cstdio>
#include <google/protobuf/descriptor.h>
#include <utility>

namespace {

using google::protobuf::Descriptor;
using google::protobuf::DescriptorPool;
using google::protobuf::EnumDescriptor;
using google::protobuf::FieldDescriptor;
using google::protobuf::Message;
using google::protobuf::Reflection;

// Deep enough for every record the envelopes carry; required fields are filled at any depth.
constexpr int kFillDepth = 4;
const char kText[] = "/srv/a";

QByteArray bytesOf(const Message& message)
{
    return QByteArray::fromStdString(message.SerializeAsString());
}

void fill(Message& message, int depth);

void fillField(Message& message, const FieldDescriptor* field, int depth)
{
    const Reflection* reflection = message.GetReflection();
    const bool repeated = field->is_repeated();
    switch (field->cpp_type()) {
    case FieldDescriptor::CPPTYPE_MESSAGE:
        if (depth < kFillDepth || field->is_required()) {
            fill(repeated ? *reflection->AddMessage(&message, field)
                          : *reflection->MutableMessage(&message, field),
                 depth + 1);
        }
        break;
    case FieldDescriptor::CPPTYPE_STRING:
        repeated ? reflection->AddString(&message, field, kText)
                 : reflection->SetString(&message, field, kText);
        break;
    case FieldDescriptor::CPPTYPE_ENUM: {
        const auto* value = field->enum_type()->value(field->enum_type()->value_count() - 1);
        repeated ? reflection->AddEnum(&message, field, value)
                 : reflection->SetEnum(&message, field, value);
        break;
    }
    case FieldDescriptor::CPPTYPE_BOOL:
        repeated ? reflection->AddBool(&message, field, true)
                 : reflection->SetBool(&message, field, true);
        break;
    case FieldDescriptor::CPPTYPE_INT32:
        repeated ? reflection->AddInt32(&message, field, 1)
                 : reflection->SetInt32(&message, field, 1);
        break;
    case FieldDescriptor::CPPTYPE_INT64:
        repeated ? reflection->AddInt64(&message, field, 1)
                 : reflection->SetInt64(&message, field, 1);
        break;
    case FieldDescriptor::CPPTYPE_UINT32:
        repeated ? reflection->AddUInt32(&message, field, 1)
                 : reflection->SetUInt32(&message, field, 1);
        break;
    case FieldDescriptor::CPPTYPE_UINT64:
        repeated ? reflection->AddUInt64(&message, field, 1)
                 : reflection->SetUInt64(&message, field, 1);
        break;
    case FieldDescriptor::CPPTYPE_DOUBLE:
        repeated ? reflection->AddDouble(&message, field, 1)
                 : reflection->SetDouble(&message, field, 1);
        break;
    case FieldDescriptor::CPPTYPE_FLOAT:
        repeated ? reflection->AddFloat(&message, field, 1)
                 : reflection->SetFloat(&message, field, 1);
        break;
    }
}

// Every field and every known extension once, so that each decoding path has a seed.
void fill(Message& message, int depth)
{
    const Descriptor* descriptor = message.GetDescriptor();
    for (int i = 0; i < descriptor->field_count(); ++i) {
        fillField(message, descriptor->field(i), depth);
    }
    std::vector<const FieldDescriptor*> extensions;
    DescriptorPool::generated_pool()->FindAllExtensions(descriptor, &extensions);
    for (const FieldDescriptor* extension : extensions) {
        fillField(message, extension, depth);
    }
}

// For each tag: the tag alone, every field, and every field but the error, since an error
// often decides the path a reply takes.
template <typename Envelope> QList<std::pair<QString, QByteArray>> everyTag()
{
    Envelope full;
    fill(full, 0);
    Envelope withoutError = full;
    withoutError.clear_error();
    QList<std::pair<QString, QByteArray>> seeds;
    const EnumDescriptor* tags = Envelope::descriptor()->FindFieldByName("tag")->enum_type();
    for (int i = 0; i < tags->value_count(); ++i) {
        using Tag = decltype(std::declval<const Envelope&>().tag());
        const auto tag = Tag(tags->value(i)->number());
        const QString name = QString::fromStdString(tags->value(i)->name());
        Envelope bare;
        bare.set_tag(tag);
        full.set_tag(tag);
        withoutError.set_tag(tag);
        seeds << std::pair{name + "-bare", bytesOf(bare)}
              << std::pair{name + "-full", bytesOf(full)}
              << std::pair{name + "-ok", bytesOf(withoutError)};
    }
    return seeds;
}

fc::ServerMessage scanInfo(fc::ScanState state)
{
    fc::ServerMessage message;
    message.set_tag(fc::ServerMessage::SCAN_INFO_NOTIFICATION);
    fc::ScanInfo* info = message.add_info();
    info->set_task_id(1);
    info->set_state(state);
    info->mutable_progress()->set_traverse_done(true);
    info->mutable_progress()->set_files_to_scan(2);
    info->mutable_progress()->set_files_scanned(1);
    info->mutable_progress()->set_scanning_now(kText);
    if (state == fc::SCAN_STATE_FINISHED) {
        info->mutable_result()->set_stop_time(1);
        info->mutable_result()->set_final_status(nv::EC_OK);
    }
    return message;
}

// The scan the link awaits, from its start to its end.
QList<QByteArray> scanLifetime()
{
    fc::ServerMessage started;
    started.set_tag(fc::ServerMessage::START_SCAN_RESPONSE);
    started.set_task_id(1);
    return {bytesOf(started), bytesOf(scanInfo(fc::SCAN_STATE_RUNNING)),
            bytesOf(scanInfo(fc::SCAN_STATE_FINISHED))};
}

// The same scan from a daemon newer than this build: a state and a final status that this build
// does not know.
QList<QByteArray> newerDaemonScan()
{
    const auto newer = [](google::protobuf::Message* message, int fieldNumber) {
        message->GetReflection()->MutableUnknownFields(message)->AddVarint(fieldNumber, 9999);
    };
    fc::ServerMessage running = scanInfo(fc::SCAN_STATE_RUNNING);
    running.mutable_info(0)->clear_state();
    newer(running.mutable_info(0), fc::ScanInfo::kStateFieldNumber);
    fc::ServerMessage finished = scanInfo(fc::SCAN_STATE_FINISHED);
    finished.mutable_info(0)->mutable_result()->clear_final_status();
    newer(finished.mutable_info(0)->mutable_result(), fc::ScanResult::kFinalStatusFieldNumber);
    return {scanLifetime().first(), QByteArray::fromStdString(running.SerializePartialAsString()),
            QByteArray::fromStdString(finished.SerializePartialAsString())};
}

QByteArray lengthWord(quint32 length)
{
    return QByteArray(reinterpret_cast<const char*>(&length), sizeof length);
}

QList<QByteArray> eachByte(const QByteArray& stream)
{
    QList<QByteArray> reads;
    for (char byte : stream) {
        reads << QByteArray(1, byte);
    }
    return reads;
}

// Streams of frames cut into reads at the places where a reader most easily goes wrong.
QList<std::pair<QString, QByteArray>> frameStreams()
{
    QByteArray frames;
    for (const QByteArray& body : scanLifetime()) {
        frames += frameOf(body);
    }
    nv::Configd2PublicMessage config;
    config.set_tag(nv::Configd2PublicMessage::CONFIG_NOTIFICATION);
    const QByteArray small = frameOf(bytesOf(config));
    const QByteArray zero = lengthWord(0);
    // Batches beyond the length word: smaller than most frames, and larger than every one.
    constexpr quint8 kSmallBatch = 9;
    constexpr quint8 kLargeBatch = 255;
    return {
        {"one-read", FrameReaderCheck::input(kLargeBatch, {frames})},
        {"one-read-small-batch", FrameReaderCheck::input(kSmallBatch, {frames})},
        {"byte-by-byte", FrameReaderCheck::input(kLargeBatch, eachByte(small + small))},
        {"split-prefix",
         FrameReaderCheck::input(kLargeBatch, {frames.left(2), frames.mid(2, 5), frames.mid(7)})},
        {"empty-reads", FrameReaderCheck::input(kLargeBatch, {{}, small, {}, small})},
        {"zero-length", FrameReaderCheck::input(kSmallBatch, {zero + small, zero, small})},
        {"oversized", FrameReaderCheck::input(
                          kSmallBatch, {small + lengthWord(IPCLink::kMaxFrameBytes + 1), small})},
        {"largest-awaited",
         FrameReaderCheck::input(kLargeBatch,
                                 {small + lengthWord(IPCLink::kMaxFrameBytes) + small})},
    };
}

QString escaped(const QByteArray& bytes)
{
    QString text;
    for (uchar byte : bytes) {
        text += QStringLiteral("\\x%1").arg(byte, 2, 16, QLatin1Char('0'));
    }
    return text;
}

QByteArray varint(quint64 value)
{
    QByteArray bytes;
    do {
        const char low = char(value & 0x7f);
        value >>= 7;
        bytes += value ? char(low | 0x80) : low;
    } while (value);
    return bytes;
}

// The field keys of the envelope and the tag key with each tag value: what a mutation of bytes
// would take long to guess.
QStringList envelopeWords(const Descriptor* envelope)
{
    QStringList words;
    for (int i = 0; i < envelope->field_count(); ++i) {
        const FieldDescriptor* field = envelope->field(i);
        const auto wireType = field->cpp_type() == FieldDescriptor::CPPTYPE_MESSAGE ||
                                      field->cpp_type() == FieldDescriptor::CPPTYPE_STRING
                                  ? 2
                                  : 0;
        words << escaped(varint(quint64(field->number()) << 3 | wireType));
    }
    const EnumDescriptor* tags = envelope->FindFieldByName("tag")->enum_type();
    for (int i = 0; i < tags->value_count(); ++i) {
        words << escaped(varint(1 << 3) + varint(quint64(tags->value(i)->number())));
    }
    return words;
}

QStringList lengthWords()
{
    QStringList words;
    for (quint32 length : {0u, IPCLink::kMaxFrameBytes, IPCLink::kMaxFrameBytes + 1, ~0u}) {
        words << escaped(lengthWord(length));
    }
    return words;
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
        fprintf(stderr, "make_corpus: cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

bool writeTarget(const QDir& root, const QString& target,
                 const QList<std::pair<QString, QByteArray>>& seeds, const QStringList& words)
{
    if (!root.mkpath(target)) {
        fprintf(stderr, "make_corpus: cannot create %s\n", qPrintable(root.filePath(target)));
        return false;
    }
    const QDir dir(root.filePath(target));
    for (const auto& [name, input] : seeds) {
        if (!writeFile(dir.filePath(name), input)) {
            return false;
        }
    }
    QByteArray dictionary;
    for (const QString& word : words) {
        dictionary += QStringLiteral("\"%1\"\n").arg(word).toLatin1();
    }
    return writeFile(root.filePath(target + ".dict"), dictionary);
}

template <typename Envelope>
QList<std::pair<QString, QByteArray>> dispatchSeeds(const QList<QByteArray>& sequence)
{
    QList<std::pair<QString, QByteArray>> seeds;
    for (const auto& [name, body] : everyTag<Envelope>()) {
        seeds << std::pair{name, FuzzRecords::join({body})};
    }
    seeds << std::pair{QStringLiteral("sequence"), FuzzRecords::join(sequence)};
    return seeds;
}

QList<QByteArray> privilegeRoundTrip()
{
    nv::Configd2PublicMessage auth;
    auth.set_tag(nv::Configd2PublicMessage::AUTH_RESPONSE);
    auth.set_token(kText);
    nv::Configd2PublicMessage revoke;
    revoke.set_tag(nv::Configd2PublicMessage::REVOKE_TOKEN_RESPONSE);
    return {bytesOf(auth), bytesOf(revoke)};
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc != 2) {
        fprintf(stderr, "usage: make_corpus <directory>\n");
        return 2;
    }
    const QDir root(QFile::decodeName(argv[1]));
    const bool written = writeTarget(root, "frame_reader", frameStreams(), lengthWords()) &&
                         writeTarget(root, "configd_dispatch",
                                     dispatchSeeds<nv::Configd2PublicMessage>(privilegeRoundTrip()),
                                     envelopeWords(nv::Configd2PublicMessage::descriptor())) &&
                         writeTarget(root, "fc_dispatch",
                                     dispatchSeeds<fc::ServerMessage>(scanLifetime())
                                         << std::pair{QStringLiteral("newer-daemon"),
                                                      FuzzRecords::join(newerDaemonScan())},
                                     envelopeWords(fc::ServerMessage::descriptor()));
    return written ? 0 : 1;
}
