#include "ErrorText.h"

#include "annotation.pb.h"

QString errorText(nv::ErrorCode code)
{
    const auto* value = nv::ErrorCode_descriptor()->FindValueByNumber(code);
    return value ? QString::fromStdString(value->options().GetExtension(nv::lex)) : QString();
}

QString errorWithText(nv::ErrorCode code)
{
    return QStringLiteral("%1 (%2)").arg(int(code)).arg(errorText(code));
}
