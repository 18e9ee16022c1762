#include "launcher/java_version.h"

#include <string>

namespace tavrelo {
namespace {

constexpr double kMinimumVersion = 1.5;

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }
bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

}  // namespace

std::optional<double> VersionPrefixNumber(std::u16string_view subkey_name) {
  std::u16string_view text = subkey_name.substr(0, 3);
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);

  bool negative = false;
  if (!text.empty() && (text.front() == u'+' || text.front() == u'-')) {
    negative = text.front() == u'-';
    text.remove_prefix(1);
  }
  // At most three characters remain: the digits form an exact integer, and
  // one correctly rounded division places the point, as a library conversion
  // would, but without consulting the user's locale.
  double digits = 0;
  double divisor = 1;
  bool any_digit = false;
  bool seen_point = false;
  for (char16_t c : text) {
    if (IsDigit(c)) {
      any_digit = true;
      digits = digits * 10 + (c - u'0');
      if (seen_point) divisor *= 10;
    } else if (c == u'.' && !seen_point) {
      seen_point = true;
    } else {
      return std::nullopt;
    }
  }
  if (!any_digit) return std::nullopt;
  const double value = digits / divisor;
  return negative ? -value : value;
}

Outcome<bool> IsSupportedJavaVersion(std::u16string_view subkey_name) {
  const std::optional<double> version = VersionPrefixNumber(subkey_name);
  if (!version) {
    std::u16string description = u"Type mismatch: the Java runtime version \"";
    description += subkey_name;
    description += u"\" in the registry does not begin with a version number.";
    return Failure(kErrorTypeMismatch, description);
  }
  return *version >= kMinimumVersion;
}

}  // namespace tavrelo
