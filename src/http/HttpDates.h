// Reads the date forms HTTP servers send (RFC 1123, RFC 850, asctime, Netscape cookie expiry).
#pragma once

#include <string_view>

namespace vandrel {

// The date as UTC days since 1899-12-30 with the time as fraction; 0 when the text is no date we read.
double ParseHttpDate(std::string_view text);
// The current time on the same UTC scale.
double NowUtcDateTime();
// A UTC date-time on the local clock (the scale the rest of the program keeps its dates in).
double UtcToLocalDateTime(double utc);

}  // namespace vandrel
