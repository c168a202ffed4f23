#include "testing/stored_list.h"

#include <memory>
#include <string>

namespace ncrewrite::testing {

LineList StoredList(const TextEncoding& encoding, std::u16string_view text) {
  const std::string bytes = EncodeText(encoding, text);
  auto buffer = std::make_unique_for_overwrite<char[]>(bytes.size());
  bytes.copy(buffer.get(), bytes.size());
  LineList list;
  list.AssignText(encoding, FileBytes(std::move(buffer), bytes.size()), 0, bytes.size());
  return list;
}

}  // namespace ncrewrite::testing
