// Assertion helpers shared by the test programs.
#pragma once

#include <gtest/gtest.h>

#include <exception>
#include <string>

namespace qor::test {

// Runs `f` and returns the message of the exception of class E it raises; a test failure (and
// an empty text) when it raises nothing or something else.
template <typename E, typename F>
std::string MessageOf(F&& f) {
  try {
    f();
  } catch (const E& e) {
    return e.what();
  } catch (const std::exception& e) {
    ADD_FAILURE() << "another exception was raised: " << e.what();
    return {};
  }
  ADD_FAILURE() << "the expected exception was not raised";
  return {};
}

}  // namespace qor::test
