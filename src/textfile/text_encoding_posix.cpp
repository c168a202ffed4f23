#include "textfile/text_encoding.h"

#include "textfile/file_failures.h"

namespace ncrewrite {

// Linux has no system 8-bit code page; Windows-1252 stands in for it because
// it is what the programs' Windows users have, and every byte round-trips.
const TextEncoding& SystemCodePage() { return Windows1252Encoding(); }

std::shared_ptr<const TextEncoding> MakeCodePageEncoding(std::uint32_t code_page) {
  if (code_page != Windows1252Encoding().code_page) RaiseCodePageFailure();
  // The process-wide encoding itself, which nothing owns.
  return std::shared_ptr<const TextEncoding>(std::shared_ptr<void>(), &Windows1252Encoding());
}

}  // namespace ncrewrite
