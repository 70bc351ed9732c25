// The reason of the last failed file operation, so that a failed commit can say why (a full disk).
#pragma once

#include <string>

namespace vandrel {

// The errno value of the last file operation that failed on this thread; 0 after XbClearIoError.
int XbLastIoError();
void XbSetIoError(int error);
void XbClearIoError();
// ": reason" for the last failure, or "" when none was recorded.
std::string XbIoErrorSuffix();

}  // namespace vandrel
