// The libFuzzer entry points, built once per check: NORVO_FUZZ_CHECK names the check class and
// NORVO_FUZZ_CHECK_HEADER its header.

#include NORVO_FUZZ_CHECK_HEADER

#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>
#include <google/protobuf/stubs/logging.h>

namespace {
void discard(QtMsgType, const QMessageLogContext&, const QString&) {}
} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    // Sockets need the application's event dispatcher; the loop itself never runs.
    static QCoreApplication app(*argc, *argv);
    // Formatting and writing the links' log lines would cost more than the links themselves.
    qInstallMessageHandler(discard);
    google::protobuf::SetLogHandler(nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static NORVO_FUZZ_CHECK check;
    const QString fault =
        check.run(QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size)));
    if (!fault.isEmpty()) {
        fprintf(stderr, "%s\n", qPrintable(fault));
        abort();
    }
    return 0;
}
