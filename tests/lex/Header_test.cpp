// Document header entries, and the comments of include files.
#include "lex/Header.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/ScopedTempDir.h"

namespace tarvix {
namespace {

TEST(Header, ApplyHeaderEntryTrimsAndMatchesKeys) {
  DocumentHeader header;
  ApplyHeaderEntry(header, "Output_Ext", " \t.htm \r\n", "", true);
  ApplyHeaderEntry(header, "DESCRIPTION", "d", "", true);
  ApplyHeaderEntry(header, "title", "", "", true);
  ApplyHeaderEntry(header, "", "t", "", true);
  ApplyHeaderEntry(header, "titles", "t", "", true);
  // Include files cannot name further include files.
  ApplyHeaderEntry(header, "include", "x.md", "", true);
  EXPECT_EQ(header.output_ext, ".htm");
  EXPECT_EQ(header.description, "d");
  EXPECT_EQ(header.title, "");
  EXPECT_EQ(header.include, "");

  ResetHeader(header);
  EXPECT_EQ(header.output_ext, ".html");
  EXPECT_EQ(header.description, "");
}

TEST(Header, IncludeFilesGiveTheirComments) {
  ScopedTempDir dir;
  dir.WriteFile("inc.md",
                "\xEF\xBB\xBF<!-- title: Inc\ninclude: other.md\n-->\n"
                "<meta name=\"x\" content='-->'>\n"
                "<br/><!--keywords: K-->\n"
                "text <p>a</p> <!-- description: D -->");
  dir.WriteFile("other.md", "<!-- title: Other -->");
  DocumentHeader header;
  ReadIncludeFile(header, dir.PathOf("inc.md"));
  EXPECT_EQ(header.title, "Inc");
  EXPECT_EQ(header.keywords, "K");
  EXPECT_EQ(header.description, "D");
  EXPECT_EQ(header.include, "");

  // Include paths are taken from the folder given, the document's.
  header = DocumentHeader{};
  std::vector<MissingInclude> missing;
  ApplyHeaderEntry(header, "include", " inc.md ", dir.path(), false, &missing);
  ApplyHeaderEntry(header, "Include", "missing.md", dir.path(), false, &missing);
  // The file that is not there, with the system's reason.
  ASSERT_EQ(missing.size(), 1u);
  EXPECT_EQ(missing[0].path, dir.PathOf("missing.md"));
  EXPECT_EQ(missing[0].reason, "No such file or directory");
  EXPECT_EQ(header.title, "Inc");
  EXPECT_EQ(header.include, "missing.md");
}

}  // namespace
}  // namespace tarvix
