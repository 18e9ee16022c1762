// The version read from any subkey name is a number or a type-mismatch
// failure, and qualifying agrees with the number.
#include "common/failure.h"
#include "fuzz/fuzz_support.h"
#include "launcher/java_version.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tavrelo;
  const std::u16string name = fuzz::Utf16From(data, size);
  const std::optional<double> number = VersionPrefixNumber(name);
  const Outcome<bool> supported = IsSupportedJavaVersion(name);
  if (supported.ok()) {
    if (!number || supported.value() != (*number >= 1.5)) __builtin_trap();
  } else if (number || supported.failure().number() != kErrorTypeMismatch) {
    __builtin_trap();
  }
  return 0;
}
