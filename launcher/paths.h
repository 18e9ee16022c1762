#pragma once

#include <string>
#include <string_view>

namespace tavrelo {

// The folder that holds the module at `module_path`: everything before the
// last backslash, with the backslash kept only at a drive root ("C:\").
// Works for paths of any length, UNC paths and "\\?\" paths alike.
std::u16string AppFolderFromModulePath(std::u16string_view module_path);

// `path` in the "\\?\" form when it is too long for the plain form (260
// characters or more), so that the file functions accept it. Only absolute
// drive and UNC paths are rewritten; anything else is returned unchanged.
std::u16string ExtendedLengthPath(std::u16string_view path);

}  // namespace tavrelo
