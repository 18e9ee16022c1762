// Whatever the runtime and application folders hold, a quotable runtime
// folder yields a command whose program part is exactly that folder's
// java.exe in quotes, and the main class always comes last.
#include "fuzz/fuzz_support.h"
#include "launcher/launch_command.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tavrelo;
  const std::size_t split = size == 0 ? 0 : data[0] % (size + 1);
  const std::u16string home = fuzz::Utf16From(data, split);
  const std::u16string app = fuzz::Utf16From(data + split, size - split);
  const std::u16string command = LaunchCommand(home, app);
  if (!command.ends_with(u"\" CDMA.Frame11")) __builtin_trap();
  if (home.empty()) {
    if (!command.starts_with(u"java -classpath \"")) __builtin_trap();
  } else if (IsQuotableFolder(home)) {
    const std::u16string program = u"\"" + home + u"\\bin\\java.exe\" ";
    // The program ends at the first quote after the opening one.
    if (command.find(u'"', 1) != program.size() - 2) __builtin_trap();
    if (!command.starts_with(program + u"-classpath ")) __builtin_trap();
  }
  return 0;
}
