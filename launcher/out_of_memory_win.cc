// What the launcher does when the C++ library cannot go on. The launcher is
// built without C++ exceptions, so memory that cannot be had and a text or
// list grown past its largest size cannot unwind to a failure check: they end
// the process after telling the user, as any failure outside a check does.
// Defining the allocation functions and the library's few error hooks here
// also keeps the library's exception classes, their std::string and the
// unwinder out of the executable.
#include <windows.h>

#include <cstddef>
#include <cstdlib>
#include <new>

#include "launcher/exit_codes.h"
#include "launcher/messages.h"

namespace tavrelo {
namespace {

[[noreturn]] void OutOfMemory() {
  // The box needs no memory of the launcher's own: both texts are constants.
  MessageBoxW(nullptr, L"Out of memory", reinterpret_cast<const wchar_t*>(kAppTitle),
              MB_OK | MB_SETFOREGROUND);
  ExitProcess(kExitStartFailed);
}

void* Allocate(std::size_t size) {
  void* memory = std::malloc(size == 0 ? 1 : size);
  if (memory == nullptr) OutOfMemory();
  return memory;
}

}  // namespace
}  // namespace tavrelo

void* operator new(std::size_t size) { return tavrelo::Allocate(size); }
void* operator new[](std::size_t size) { return tavrelo::Allocate(size); }
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t) noexcept { std::free(memory); }

// The standard containers call these when a size is past what they can hold,
// which only a failed or impossible allocation can lead to, and when text is
// made from a null pointer or cut at a position past its end, which the
// launcher never does.
namespace std {
void __throw_bad_alloc() { tavrelo::OutOfMemory(); }
void __throw_bad_array_new_length() { tavrelo::OutOfMemory(); }
void __throw_length_error(const char*) { tavrelo::OutOfMemory(); }
void __throw_logic_error(const char*) { std::abort(); }
void __throw_out_of_range_fmt(const char*, ...) { std::abort(); }
}  // namespace std
