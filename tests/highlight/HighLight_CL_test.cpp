#include "highlight/HighLight_CL.h"

#include <gtest/gtest.h>

#include <string>

#include "support/Convert.h"

namespace tarvix {
namespace {

std::string ScriptOf(HighLight_CL& table, std::string_view name) {
  const Brush* brush = table.Find(name);
  return brush ? brush->scriptFile : "none";
}

TEST(HighLight, LookupLowersTheNameButDoesNotTrimIt) {
  HighLight_CL table;
  EXPECT_EQ(ScriptOf(table, "JavaScript"), "shBrushJScript.js");
  EXPECT_EQ(ScriptOf(table, "JS"), "shBrushJScript.js");
  EXPECT_EQ(ScriptOf(table, "jscript"), "shBrushJScript.js");
  EXPECT_EQ(ScriptOf(table, "c"), "shBrushCpp.js");
  EXPECT_EQ(ScriptOf(table, "C-Sharp"), "shBrushCSharp.js");
  EXPECT_EQ(ScriptOf(table, "xhtml"), "shBrushXml.js");
  EXPECT_EQ(ScriptOf(table, "html"), "shBrushXml.js");
  EXPECT_EQ(ScriptOf(table, "ror"), "shBrushRuby.js");
  EXPECT_EQ(ScriptOf(table, "pas"), "shBrushDelphi.js");
  EXPECT_EQ(ScriptOf(table, ""), "none");
  EXPECT_EQ(ScriptOf(table, "c sharp"), "none");
  EXPECT_EQ(ScriptOf(table, " js"), "none");
  EXPECT_EQ(ScriptOf(table, "cobol"), "none");
}

constexpr std::string_view kCore =
    "<script type=\"text/javascript\" src=\"./SyntaxHighlighter/scripts/shCore.js\"></script>\n";
constexpr std::string_view kCall =
    "<script type=\"text/javascript\">SyntaxHighlighter.all();</script>";

TEST(HighLight, PageLoadsEachUsedBrushOnceInTableOrder) {
  EXPECT_EQ(ToPage("```js\na\n```\n```python\nb\n```\n```js\nc\n```\n", "[####SYNTAX####]"),
            "[" + std::string(kCore) +
                "<script type=\"text/javascript\" "
                "src=\"./SyntaxHighlighter/scripts/shBrushJScript.js\"></script>\n"
                "<script type=\"text/javascript\" "
                "src=\"./SyntaxHighlighter/scripts/shBrushPython.js\"></script>\n" +
                std::string(kCall) + "]");
  EXPECT_EQ(ToPage("```sql\na\n```\n```shell\nb\n```\n", "####SYNTAX####"),
            std::string(kCore) +
                "<script type=\"text/javascript\" "
                "src=\"./SyntaxHighlighter/scripts/shBrushBash.js\"></script>\n"
                "<script type=\"text/javascript\" "
                "src=\"./SyntaxHighlighter/scripts/shBrushSql.js\"></script>\n" +
                std::string(kCall));
}

TEST(HighLight, PageWithoutBrushGetsNoScripts) {
  EXPECT_EQ(ToPage("a\n", "[####SYNTAX####]"), "[]");
  EXPECT_EQ(ToPage("```cobol\na\n```\n    b\n", "[####SYNTAX####]"), "[]");
  // A fence that closes at once looks up no brush.
  EXPECT_EQ(ToPage("```js\n```\n", "[####SYNTAX####]"), "[]");
}

TEST(HighLight, EveryBrushHasItsScript) {
  // One fence per brush, in reverse table order.
  const char* names[] = {"xml",    "vb",   "sql", "scala",  "ruby", "py",     "ps",  "plain",
                         "php",    "perl", "jfx", "java",   "js",   "groovy", "erl", "diff",
                         "delphi", "css",  "cpp", "csharp", "cf",   "bash",   "as3"};
  std::string doc;
  for (const char* name : names)
    doc += std::string("```") + name + "\nx\n```\n";
  std::string expected(kCore);
  for (const char* script :
       {"AS3",        "Bash",   "ColdFusion", "CSharp", "Cpp",    "Css",  "Delphi", "Diff",
        "Erlang",     "Groovy", "JScript",    "Java",   "JavaFX", "Perl", "Php",    "Plain",
        "PowerShell", "Python", "Ruby",       "Scala",  "Sql",    "Vb",   "Xml"}) {
    expected += std::string("<script type=\"text/javascript\" src=\"./SyntaxHighlighter/scripts/") +
                "shBrush" + script + ".js\"></script>\n";
  }
  expected += kCall;
  EXPECT_EQ(ToPage(doc, "####SYNTAX####"), expected);
}

}  // namespace
}  // namespace tarvix
