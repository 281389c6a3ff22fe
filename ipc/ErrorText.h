#pragma once

#include "error.pb.h"

#include <QString>

// The message text of a result code as the suite shows it to users, e.g. "Success"; empty for a
// value the definitions do not know.
QString errorText(nv::ErrorCode code);

// "CODE (text)", the form in which the run names a daemon's result.
QString errorWithText(nv::ErrorCode code);
