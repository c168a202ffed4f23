#pragma once

// Test support: the failure that an action raises.

#include <gtest/gtest.h>

#include "failure/failure.h"

namespace ncrewrite::testing {

/// Runs `action` and gives the failure it raised; a test failure when it
/// raised none.
template <typename Action>
Failure FailureOf(Action action) {
  try {
    action();
  } catch (const Failure& failure) {
    return failure;
  }
  ADD_FAILURE() << "no failure raised";
  return Failure("none", "", 0);
}

}  // namespace ncrewrite::testing
