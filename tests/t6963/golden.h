// Golden text-art frames in tests/data/t6963/. With KELVARI_UPDATE_GOLDEN=1 in the
// environment the comparison writes the file instead (review the result before committing).
#pragma once

#include <string>

#include <gtest/gtest.h>

namespace t6963::testing {

// Compares `actual` with the golden file `name`; on a mismatch, reports the differing rows.
::testing::AssertionResult matchesGolden(const std::string& name, const std::string& actual);

}  // namespace t6963::testing
