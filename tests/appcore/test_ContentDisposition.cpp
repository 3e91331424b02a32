// File names from "Content-Disposition", as servers really send them.
#include <gtest/gtest.h>

#include "app/core/ContentDisposition.h"

TEST(ContentDisposition, FileNames) {
  const std::pair<const char*, const char*> cases[] = {
      {"attachment; filename=clip.flv", "clip.flv"},
      {"attachment; filename=\"my clip.flv\"", "my clip.flv"},
      {"attachment;filename=\"a \\\"quoted\\\" one.flv\"", "a \"quoted\" one.flv"},
      {"attachment; filename=\"semi;colon.flv\"; size=10", "semi;colon.flv"},
      {"inline; FILENAME = upper.flv ", "upper.flv"},
      // The extended form wins wherever it stands.
      {"attachment; filename=\"fallback.flv\"; filename*=UTF-8''%E2%82%AC%20rates.flv", "\xE2\x82\xAC rates.flv"},
      {"attachment; filename*=iso-8859-1'en'caf%E9.flv; filename=cafe.flv", "caf\xC3\xA9.flv"},
      // A broken or foreign extended value falls back to the plain one.
      {"attachment; filename*=UTF-8''bad%zz.flv; filename=plain.flv", "plain.flv"},
      {"attachment; filename*=koi8-r''x.flv; filename=plain.flv", "plain.flv"},
      // A parameter without a value does not hide the next one.
      {"attachment; hidden; filename=next.flv", "next.flv"},
      // Only the last path part: a name never leads out of the folder.
      {"attachment; filename=\"../../etc/passwd\"", "passwd"},
      {"attachment; filename=\"C:\\\\Users\\\\x\\\\clip.flv\"", "clip.flv"},
  };
  for (const auto& [value, name] : cases) {
    const std::optional<std::string> got = ContentDispositionFileName(std::string(value));
    ASSERT_TRUE(got) << value;
    EXPECT_EQ(*got, name) << value;
  }
  for (const char* none : {"attachment", "inline; filename=", "attachment; filename=\"\"", "attachment; filename=\"..\"",
                           "attachment; filename=dir/", ""})
    EXPECT_FALSE(ContentDispositionFileName(std::string(none))) << none;

  EXPECT_EQ(ContentDispositionFileName(std::vector<std::string>{"HTTP/1.1 200 OK", "content-disposition: attachment; "
                                                                                   "filename=h.flv"}),
            "h.flv");
  EXPECT_FALSE(ContentDispositionFileName(std::vector<std::string>{"HTTP/1.1 200 OK", "Content-Type: video/x-flv"}));
}
