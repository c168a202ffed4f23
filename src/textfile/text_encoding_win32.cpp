// PLACEHOLDER of the Windows skeleton: replaced before the Windows build lands.
#include "textfile/text_encoding.h"

namespace ncrewrite {

const TextEncoding& SystemCodePage() { return Windows1252Encoding(); }

}  // namespace ncrewrite
