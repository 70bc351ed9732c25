// What the exception window says about an exception that reached the event loop.
#pragma once

#include <string>

namespace vandrel {

struct TExceptionInfo {
  std::string Message;    // the exception's own message, or a generic text naming its class and module
  std::string ClassName;  // demangled type name, "<unknown>" when the type is not known
  std::string Module;     // the program file
};

// Describes the exception being handled. Call only inside a catch block.
TExceptionInfo DescribeCurrentException(const std::string& module);

}  // namespace vandrel
