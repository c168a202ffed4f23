#include "textfile/text_encoding.h"

namespace ncrewrite {

// Linux has no system 8-bit code page; Windows-1252 stands in for it because
// it is what the programs' Windows users have, and every byte round-trips.
const TextEncoding& SystemCodePage() { return Windows1252Encoding(); }

}  // namespace ncrewrite
