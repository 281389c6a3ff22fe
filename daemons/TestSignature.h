#pragma once

#include <QByteArray>

// The content of the standard anti-virus test file, which every scanner reports as if it were a
// virus. It is put together at run time so that no file of ours holds it whole and sets off the
// scanners of the machines it lies on.
QByteArray testSignature();
