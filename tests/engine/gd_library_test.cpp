#include <gtest/gtest.h>

#include <string>

#include "render/gd_library.h"

namespace duo {
namespace {

// Without a usable libgd a GIF cannot be written, and the error must say what is missing rather
// than the program dying in the dynamic linker or calling through a null pointer.
TEST(GdLibrary, AMissingLibraryOrFunctionIsAnErrorNamingIt) {
  const struct {
    const char* file;
    const char* named;  // what the message must name besides the file
  } cases[] = {
      {"libduoscope-no-such-gd.so.3", "cannot open"},
      // A real library, but not libgd: the first function looked up is missing.
      {"libz.so.1", "gdImageCreateTrueColor"},
  };
  for (const auto& c : cases) {
    const auto gd = GdLibrary::load(c.file);
    ASSERT_FALSE(gd) << c.file;
    EXPECT_EQ(gd.error().code, ErrorCode::Unsupported);
    const std::string& message = gd.error().message;
    EXPECT_NE(message.find("GIF output needs libgd"), std::string::npos) << message;
    EXPECT_NE(message.find(c.file), std::string::npos) << message;
    EXPECT_NE(message.find(c.named), std::string::npos) << message;
  }
}

}  // namespace
}  // namespace duo
