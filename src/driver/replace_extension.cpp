#include "driver/replace_extension.h"

namespace ncrewrite {

std::string ReplaceExtension(std::string_view path, std::string_view extension) {
  const std::size_t found = path.find_last_of(".\\/:");
  const bool has_extension = found != std::string_view::npos && path[found] == '.';
  std::string result(has_extension ? path.substr(0, found) : path);
  result += extension;
  return result;
}

}  // namespace ncrewrite
