# Compiler settings shared by the project's own targets.

option(TAVRELO_WARNINGS_AS_ERRORS "Treat compiler warnings as errors" ON)
option(TAVRELO_SANITIZE "Build native code with AddressSanitizer and UBSan" ON)

string(COMPARE EQUAL "${CMAKE_SYSTEM_NAME}" Windows TAVRELO_IS_WINDOWS)

# Native test builds run under the sanitizers, every object alike, so that
# the core library and the tests agree on the instrumentation.
if(NOT TAVRELO_IS_WINDOWS AND TAVRELO_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

# Windows code is linked statically into one small executable: let the linker
# drop every function and datum nothing refers to.
if(TAVRELO_IS_WINDOWS)
  add_compile_options(-ffunction-sections -fdata-sections)
endif()

# The launcher's own code, built for Windows, has neither C++ exceptions nor
# run-time type information: its failures travel as returned values
# (common/failure.h), and the executable then carries no unwinder, no
# exception tables and none of the library's exception classes. The test
# tools under Wine keep both.
function(tavrelo_product_code target)
  tavrelo_strict_warnings(${target})
  if(TAVRELO_IS_WINDOWS)
    target_compile_options(${target} PRIVATE -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables)
    # Optimised as one program at link time: the library's templates are
    # inlined or dropped where the launcher uses them once.
    set_property(TARGET ${target} PROPERTY INTERPROCEDURAL_OPTIMIZATION ON)
  endif()
endfunction()

function(tavrelo_strict_warnings target)
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wpedantic -Wconversion -Wsign-conversion -Wshadow
    -Wnon-virtual-dtor -Wold-style-cast -Wcast-qual -Wformat=2 -Wimplicit-fallthrough)
  if(TAVRELO_WARNINGS_AS_ERRORS)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# The product's Win32 code is for Windows XP SP3 and later: with _WIN32_WINNT
# and WINVER at 0x0501 the headers leave out what came later, so a call to it
# fails to compile. (Not everything: mingw-w64 declares a few newer functions,
# SetDefaultDllDirectories among them, whatever the version; checks/pe_check.py
# catches their imports.) What the launcher wants from later systems it looks
# up at run time, with a fallback (launcher/function_address_win.h).
function(tavrelo_windows_code target)
  target_compile_definitions(${target} PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX
                                               _WIN32_WINNT=0x0501 WINVER=0x0501)
endfunction()

# Settings for a shipped Windows executable: wide entry point, GUI subsystem,
# C++ runtime linked in, ASLR and DEP on, symbols stripped, and no link time
# stamp, so that the same sources always give the same bytes. The header asks
# for the oldest Windows of its machine type that the launcher supports: 5.1
# (XP) for i686, and 5.2 for x86_64, as no 64-bit Windows is older than XP x64.
function(tavrelo_windows_executable target)
  tavrelo_windows_code(${target})
  set_property(TARGET ${target} PROPERTY INTERPROCEDURAL_OPTIMIZATION ON)
  target_link_options(${target} PRIVATE
    -municode -mwindows -static -static-libgcc -static-libstdc++ -s -Wl,--gc-sections
    -Wl,--dynamicbase -Wl,--nxcompat -Wl,--no-insert-timestamp)
  if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
    set(version_minor 2)
    target_link_options(${target} PRIVATE -Wl,--high-entropy-va)
  else()
    set(version_minor 1)
    target_link_options(${target} PRIVATE -Wl,--large-address-aware)
  endif()
  target_link_options(${target} PRIVATE
    -Wl,--major-os-version,5 -Wl,--minor-os-version,${version_minor}
    -Wl,--major-subsystem-version,5 -Wl,--minor-subsystem-version,${version_minor})
endfunction()
