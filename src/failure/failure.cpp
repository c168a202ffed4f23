#include "failure/failure.h"

#include <utility>

namespace ncrewrite {

struct Failure::Payload {
  std::string kind;
  std::string message;
};

Failure::Failure(std::string_view kind, std::string message, std::uint64_t address)
    : payload_(std::make_shared<const Payload>(Payload{std::string(kind), std::move(message)})),
      address_(address) {}

const std::string& Failure::kind() const noexcept { return payload_->kind; }
const std::string& Failure::message() const noexcept { return payload_->message; }
const char* Failure::what() const noexcept { return payload_->message.c_str(); }

Failure Failure::RaisedAt(std::uint64_t address) const noexcept {
  Failure copy(*this);
  copy.address_ = address;
  return copy;
}

void RaiseFailure(std::string_view kind, std::string message) {
  const auto address =
      reinterpret_cast<std::uintptr_t>(__builtin_return_address(0));
  throw Failure(kind, std::move(message), address);
}

}  // namespace ncrewrite
