#include "TestSignature.h"

QByteArray testSignature()
{
    QByteArray signature("X5O!P%@AP[4\\PZX54(P^)7CC)7}$");
    signature += "EICAR-STANDARD-ANTIVIRUS-";
    signature += "TEST-FILE!$H+H*";
    return signature;
}
