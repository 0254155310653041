// Stands in for the vyxgrab tests when the tool is not built (libpng was not found).
#include <gtest/gtest.h>

TEST(Vyxgrab, NotBuilt) { GTEST_SKIP() << "vyxgrab is not built: libpng was not found"; }
