// Test names for table cases: a case's readable name with everything but
// letters and digits turned into '_', as GoogleTest wants it.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <string>

namespace lumo_test {

inline std::string CaseName(std::string text) {
  for (char& ch : text) {
    if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
  }
  return text;
}

// For INSTANTIATE_TEST_SUITE_P over cases whose readable name is the member
// `name` or `Name`.
struct NameOfCase {
  template <typename Case>
  std::string operator()(const testing::TestParamInfo<Case>& info) const {
    if constexpr (requires { info.param.Name; }) {
      return CaseName(info.param.Name);
    } else {
      return CaseName(info.param.name);
    }
  }
};

}  // namespace lumo_test
