#include "kernel/ExceptionInfo.h"

#include <cxxabi.h>

#include <cstdlib>
#include <exception>
#include <memory>
#include <typeinfo>

#include "platform/Format.h"

namespace vandrel {
namespace {

std::string Demangle(const char* name) {
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> plain(abi::__cxa_demangle(name, nullptr, nullptr, &status),
                                               std::free);
  return status == 0 && plain ? std::string(plain.get()) : std::string(name);
}

}  // namespace

TExceptionInfo DescribeCurrentException(const std::string& module) {
  TExceptionInfo info;
  info.Module = module;
  const std::type_info* type = abi::__cxa_current_exception_type();
  info.ClassName = type ? Demangle(type->name()) : "<unknown>";
  try {
    throw;
  } catch (const std::exception& e) {
    info.Message = e.what() ? e.what() : "";
  } catch (...) {
  }
  // No throw address exists here; the placeholder keeps the message's shape.
  if (info.Message.empty())
    info.Message = Format("Exception %0:s in module %1:s at %2:s.", {info.ClassName, module, "00000000"});
  return info;
}

}  // namespace vandrel
