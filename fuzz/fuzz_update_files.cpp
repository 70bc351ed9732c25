// Feeds arbitrary bytes to the readers of what an update site sends: information files, updater blobs
// and the "ZS" wrapper. Any input must load or be refused, never read past its end or allocate without
// bound.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "update/UpdateInfoFiles.h"
#include "update/UpdaterBlobs.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vandrel;
  std::string_view all(reinterpret_cast<const char*>(data), size);

  // The wrapper, with a small limit so a bomb is found quickly; the same bytes wrapped must round-trip.
  std::string inflated;
  (void)ZsDecompress(all, inflated, 1 << 20);
  std::string back;
  if (ZsDecompress(ZsCompress(all), back) != TZsResult::Inflated || back != all) __builtin_trap();

  TVersionVUI version;
  if (version.LoadFromBytes(all)) {
    (void)version.SoftwareUpdates.FindByBuild(957);
    // What was read must write and read again to the same entries.
    TVersionVUI again;
    if (!again.LoadFromBytes(version.SaveToBytes())) __builtin_trap();
    if (again.SearchTypeVersions.Count() > version.SearchTypeVersions.Count()) __builtin_trap();
  }
  TCategoryVUI category;
  (void)category.LoadFromBytes(all);
  for (const TVUIFileVersion& entry : category.EngineVersions) (void)IsSafeUpdateName(entry.Name);

  TUpdaterBlob blob;
  if (blob.LoadFromBytes(all) == TBlobReadResult::Ok) {
    TUpdaterBlob copy;
    if (copy.LoadFromBytes(blob.SaveToBytes()) != TBlobReadResult::Ok || copy.Count() != blob.Count())
      __builtin_trap();
    for (size_t i = 0; i < blob.Count(); ++i) {
      (void)IsSafeUpdateName(blob.Items(i).Name, true);
      TUpdaterBlob package;
      std::string plain;
      if (ZsUnwrap(blob.Items(i).Data, plain, 1 << 20)) (void)package.LoadFromBytes(plain);
    }
  }
  return 0;
}
