#include <gtest/gtest.h>

#include <cstdlib>

#include "support/scoped_settings.hpp"
#include "support/settings.hpp"

namespace lumirex {
namespace {

using testing::ScopedBaseDir;

// A call reads the host encoding and the base folder once: a change made
// while it runs (the environment, another thread's setter) counts from the
// next call on, and nested scopes keep their own reading.
TEST(CallSettingsTest, ACallKeepsWhatItReadFirstUntilItEnds) {
  ::setenv("LUMIREX_HOST_ENCODING", "utf8", 1);
  ScopedBaseDir before("/till/one");
  {
    settings::CallSettings call;
    EXPECT_EQ(settings::CurrentHostEncoding(), settings::HostEncoding::Utf8);
    EXPECT_EQ(settings::BaseDir(), "/till/one");
    ::setenv("LUMIREX_HOST_ENCODING", "cp1252", 1);
    settings::SetBaseDir("/till/two");
    EXPECT_EQ(settings::CurrentHostEncoding(), settings::HostEncoding::Utf8);
    EXPECT_EQ(settings::BaseDir(), "/till/one");
    {
      settings::CallSettings inner;
      EXPECT_EQ(settings::BaseDir(), "/till/two");
    }
  }
  EXPECT_EQ(settings::CurrentHostEncoding(), settings::HostEncoding::Windows1252);
  EXPECT_EQ(settings::BaseDir(), "/till/two");
  ::unsetenv("LUMIREX_HOST_ENCODING");
}

}  // namespace
}  // namespace lumirex
