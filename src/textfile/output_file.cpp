#include "textfile/output_file.h"

#include <utility>

#include "textfile/file_failures.h"

namespace ncrewrite {

OutputFile::OutputFile(const std::string& path, FileBytes& source, bool replaces_source)
    : path_(path), replaces_source_(replaces_source) {
  bool created = false;
  if (const int error = OpenOutput(path, existing_, created)) RaiseCreateFailure(path_, error);
  remove_created_ = created;
  // Another file put at the loaded file's name since (a rename over it, a
  // link) must not get content that was made from the loaded one, nor the
  // loaded file once another program wrote to it: what it wrote would be
  // lost. (Where the program is a view, the view is checked again last.)
  if (replaces_source && !(existing_.is_open() && source.origin() == IdentityOf(existing_) &&
                           source.origin_version() == VersionOf(existing_))) {
    RaiseReadFailure();
  }
  if (!existing_.is_open()) {
    if (const int error = PlaceOfNewFile(path, place_)) RaiseCreateFailure(path_, error);
    if (const int error = CreateTempFile(place_, existing_, temp_name_, temp_)) {
      RaiseCreateFailure(path_, error);
    }
    return;
  }
  const FileFacts facts = QueryFile(existing_);
  if (!facts.regular || facts.links > 1) {
    PrepareInPlace(source);
    return;
  }
  if (const int error = LocateOpenFile(path, existing_, place_)) RaiseCreateFailure(path_, error);
  // Renamed over or swapped for a link just after it was opened: the same
  // answer as when that happens later in the save.
  if (const int error = CheckStillThere(place_, existing_)) RaiseReplacedMeanwhile(error);
  const int error = CreateTempFile(place_, existing_, temp_name_, temp_);
  if (error == 0) return;
  // Writing in place cannot be undone: only a file that may not be replaced
  // is worth that risk, not one that lacks the room to be.
  if (!ForbidsNewFile(error)) RaiseCreateFailure(path_, error);
  PrepareInPlace(source);
}

OutputFile::~OutputFile() {
  if (!temp_name_.empty()) {
    temp_.Close();
    RemoveFileAt(place_, temp_name_);
  }
  if (remove_created_ && existing_.is_open() && QueryFile(existing_).size == 0 &&
      CheckStillThere(place_, existing_) == 0) {
    RemoveFileAt(place_, place_.name);
  }
}

void OutputFile::PrepareInPlace(FileBytes& source) {
  in_place_ = true;
  // Writing over the file would take the content from under its own view.
  if (source.Views(existing_)) source.MakeCopy();
  overwrites_regular_file_ = QueryFile(existing_).regular;
}

void OutputFile::MakeRoom(std::uint64_t size) {
  if (const int error = ReserveRoom(existing_, size)) RaiseCreateFailure(path_, error);
}

void OutputFile::Write(const char* data, std::size_t size) {
  WriteToFile(in_place_ ? existing_ : temp_, data, size);
  written_ += size;
}

void OutputFile::Seal() {
  if (in_place_) {
    // Devices and pipes have no end to cut and cannot be flushed.
    if (overwrites_regular_file_ &&
        (CutFile(existing_, written_) != 0 || FlushToDisk(existing_) != 0)) {
      RaiseWriteFailure();
    }
    remove_created_ = false;
    if (existing_.Close() != 0) RaiseWriteFailure();
    return;
  }
  if (FlushToDisk(temp_) != 0) RaiseWriteFailure();
  // Others may read the content only once it is all there.
  if (const int error = MatchPermissions(temp_, existing_)) RaiseCreateFailure(path_, error);
  if (temp_.Close() != 0) RaiseWriteFailure();
}

void OutputFile::PutInPlace() {
  if (in_place_) return;  // written already
  if (const int error = CheckStillThere(place_, existing_)) RaiseReplacedMeanwhile(error);
  if (const int error = MoveIntoPlace(place_, temp_name_, existing_)) {
    RaiseCreateFailure(path_, error);
  }
  temp_name_.clear();  // it is the output now
  remove_created_ = false;
}

void OutputFile::RaiseReplacedMeanwhile(int error) {
  if (replaces_source_) RaiseReadFailure();
  RaiseCreateFailure(path_, error);
}

}  // namespace ncrewrite
