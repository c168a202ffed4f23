#include "textfile/file_failures.h"

#include "failure/failure.h"
#include "textfile/file_io.h"

namespace ncrewrite {

void RaiseOpenFailure(const std::string& path, int error) {
  RaiseFailure(failure_kind::kFOpenError, "Datei " + FullPath(path) +
                                              " kann nicht geöffnet werden. " +
                                              SystemErrorText(error));
}

void RaiseCreateFailure(const std::string& path, int error) {
  RaiseFailure(failure_kind::kFCreateError, "Datei \"" + FullPath(path) +
                                                "\" kann nicht erstellt werden. " +
                                                SystemErrorText(error));
}

void RaiseWriteFailure() { RaiseFailure(failure_kind::kWriteError, "Stream-Schreibfehler"); }

void RaiseReadFailure() { RaiseFailure(failure_kind::kReadError, "Stream-Lesefehler"); }

void RaiseDecodingFailure() {
  RaiseFailure(failure_kind::kEncodingError,
               "Keine Zuordnung für Unicode-Zeichen in der Multibyte-Zielcodeseite vorhanden");
}

void RaiseCodePageFailure() { RaiseFailure(failure_kind::kEncodingError, "Ungültige Codeseite"); }

std::string TrimSystemText(std::string text) {
  while (!text.empty() &&
         (static_cast<unsigned char>(text.back()) <= 0x20 || text.back() == '.')) {
    text.pop_back();
  }
  return text;
}

}  // namespace ncrewrite
