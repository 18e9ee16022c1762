#include "launcher/paths.h"

namespace tavrelo {

std::u16string AppFolderFromModulePath(std::u16string_view module_path) {
  const std::size_t last = module_path.find_last_of(u"\\/");
  if (last == std::u16string_view::npos) return {};
  std::u16string folder(module_path.substr(0, last));
  // "C:" alone would mean the drive's current directory: keep the root's
  // separator so the folder names the root itself.
  if (folder.empty() || folder.back() == u':') folder.push_back(u'\\');
  return folder;
}

std::u16string ExtendedLengthPath(std::u16string_view path) {
  constexpr std::size_t kMaxPlainPath = 260;
  if (path.size() < kMaxPlainPath) return std::u16string(path);
  const bool drive_absolute = path.size() >= 3 && path[1] == u':' && path[2] == u'\\';
  const bool unc = path.starts_with(u"\\\\") && !path.starts_with(u"\\\\?\\") &&
                   !path.starts_with(u"\\\\.\\");
  // The "\\?\" form passes the path to the file system as it stands, so it
  // is only used for paths without "." or ".." segments or forward slashes.
  const bool plain = path.find(u'/') == std::u16string_view::npos &&
                     path.find(u"\\.") == std::u16string_view::npos;
  if (!plain) return std::u16string(path);
  if (drive_absolute) return u"\\\\?\\" + std::u16string(path);
  if (unc) return u"\\\\?\\UNC\\" + std::u16string(path.substr(2));
  return std::u16string(path);
}

}  // namespace tavrelo
