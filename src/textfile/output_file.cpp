#include "textfile/output_file.h"

#include <utility>

#include "textfile/file_failures.h"

namespace ncrewrite {

OutputFile::TempFile::~TempFile() {
  if (path.empty()) return;
  file.Close();
  RemoveFile(path);
}

OutputFile::OutputFile(const std::string& path, FileBytes& source)
    : path_(path), target_(ResolveLinks(path)) {
  if (const int error = OpenExistingOutput(target_, existing_)) RaiseCreateFailure(path_, error);
  if (existing_.is_open()) {
    const FileFacts facts = QueryFile(existing_);
    if (!facts.regular || facts.links > 1) {
      PrepareInPlace(source);
      return;
    }
  }
  if (CreateTempFileBeside(target_, existing_, temp_.path, temp_.file) != 0) PrepareInPlace(source);
}

void OutputFile::PrepareInPlace(FileBytes& source) {
  if (existing_.is_open()) {
    in_place_ = std::move(existing_);
  } else if (const int error = CreateOutputInPlace(target_, in_place_)) {
    RaiseCreateFailure(path_, error);
  }
  // Emptying the file would take the content from under its own view.
  if (source.Views(in_place_)) source.MakeCopy();
  if (!QueryFile(in_place_).regular) return;
  if (const int error = TruncateFile(in_place_)) RaiseCreateFailure(path_, error);
}

void OutputFile::Write(const char* data, std::size_t size) {
  WriteToFile(temp_.path.empty() ? in_place_ : temp_.file, data, size);
}

void OutputFile::Seal() {
  if (temp_.path.empty()) {
    // Devices and pipes cannot be flushed and need not be.
    if (QueryFile(in_place_).regular && FlushToDisk(in_place_) != 0) RaiseWriteFailure();
    if (in_place_.Close() != 0) RaiseWriteFailure();
    return;
  }
  if (FlushToDisk(temp_.file) != 0) RaiseWriteFailure();
  // Others may read the content only once it is all there.
  if (const int error = MatchPermissions(temp_.file, existing_)) RaiseCreateFailure(path_, error);
  if (temp_.file.Close() != 0) RaiseWriteFailure();
}

void OutputFile::PutInPlace() {
  if (temp_.path.empty()) return;  // written in place already
  if (const int error = MoveIntoPlace(temp_.path, target_, existing_)) {
    RaiseCreateFailure(path_, error);
  }
  temp_.path.clear();  // it is the output now
}

}  // namespace ncrewrite
