#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <string_view>

namespace ncrewrite {

/// Kind names of the failures a run can meet. They are shown to the user as
/// they stand and are never translated.
namespace failure_kind {
inline constexpr std::string_view kFOpenError = "EFOpenError";
inline constexpr std::string_view kFCreateError = "EFCreateError";
inline constexpr std::string_view kEncodingError = "EEncodingError";
inline constexpr std::string_view kWriteError = "EWriteError";
inline constexpr std::string_view kReadError = "EReadError";
inline constexpr std::string_view kOutOfMemory = "EOutOfMemory";
}  // namespace failure_kind

/// What a failing step raises: a kind name, a (German) message that may be
/// empty, and the code address at which it was raised (0 when unknown).
/// Copies share one immutable payload, so a failure prepared in advance can be
/// thrown again without allocating its texts anew.
class Failure : public std::exception {
 public:
  Failure(std::string_view kind, std::string message, std::uint64_t address);

  const std::string& kind() const noexcept;
  const std::string& message() const noexcept;
  std::uint64_t address() const noexcept { return address_; }
  const char* what() const noexcept override;

  /// The same failure raised at another code address. Shares the texts, so
  /// it needs no memory: the out-of-memory failure is made this way.
  Failure RaisedAt(std::uint64_t address) const noexcept;

 private:
  struct Payload;
  std::shared_ptr<const Payload> payload_;
  std::uint64_t address_;
};

/// Raises a failure of `kind` with `message`. Its code address is the return
/// address into the caller, that is, the code that raised it.
[[noreturn]] __attribute__((noinline)) void RaiseFailure(std::string_view kind,
                                                         std::string message);

}  // namespace ncrewrite
