// For the tests that hold a kernel's plain form against its vector form: the vector
// form is the kernels' `fast` namespace, which a build without one sets to the plain
// form; such a test then skips with a message.
#pragma once

#include <gtest/gtest.h>

#if defined(__SSE2__)
#define FX60_REQUIRE_VECTOR_FORM()
#else
#define FX60_REQUIRE_VECTOR_FORM() GTEST_SKIP() << "this build has no vector form of the kernels"
#endif
