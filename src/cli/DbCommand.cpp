// "db": maintenance of the database under the root folder.
#include <cstdio>
#include <string>

#include "cli/CliKernel.h"
#include "cli/CliOutput.h"
#include "cli/Commands.h"

namespace vandrel::cli {

int RunDb(const Args& args) {
  TKernelArguments kernelArguments;
  std::string error;
  if (!ParseDbArguments(args, kernelArguments.Root, error)) return UsageError("db", error);
  THeadlessKernel kernel;
  if (!OpenKernel(kernel, kernelArguments, "db")) return 1;
  if (!kernel.Kernel().CompactDatabase()) return 1;
  std::printf("database compacted\n");
  return 0;
}

}  // namespace vandrel::cli
