#include "failure/failure.h"

#include <utility>

namespace ncrewrite {

struct Failure::Payload {
  std::string kind;
  std::string message;
  std::uint64_t address;
};

Failure::Failure(std::string_view kind, std::string message, std::uint64_t address)
    : payload_(std::make_shared<const Payload>(
          Payload{std::string(kind), std::move(message), address})) {}

const std::string& Failure::kind() const noexcept { return payload_->kind; }
const std::string& Failure::message() const noexcept { return payload_->message; }
std::uint64_t Failure::address() const noexcept { return payload_->address; }
const char* Failure::what() const noexcept { return payload_->message.c_str(); }

void RaiseFailure(std::string_view kind, std::string message) {
  const auto address =
      reinterpret_cast<std::uintptr_t>(__builtin_return_address(0));
  throw Failure(kind, std::move(message), address);
}

}  // namespace ncrewrite
