#include <gtest/gtest.h>

#include <cstdlib>

#include "test_labels.h"

int main(int argc, char** argv) {
#ifdef FENNROW_TEST_HOME
    // Tests never read or write the real home folder (client option files, settings).
    setenv("HOME", FENNROW_TEST_HOME, 1);
#endif
    ::testing::InitGoogleTest(&argc, argv);
    fennrow_test::apply_label_filter();
    return RUN_ALL_TESTS();
}
