// Writing an element tree as XML text and to a file.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/koexception.h"
#include "xml/koxmlparser.h"

namespace {

std::tm Stamp(int hour, int min, int sec) {
  std::tm t{};
  t.tm_year = 2026 - 1900;
  t.tm_mon = 11;
  t.tm_mday = 9;
  t.tm_hour = hour;
  t.tm_min = min;
  t.tm_sec = sec;
  return t;
}

const std::string kHeader =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
    "<!-- XML file by TkoXmlParser - 09/12/2026 14:05:09 -->\r\n"
    "<!-- Orvadi s.n.c. - http://www.orvadi.example -->\r\n";

TEST(Writer, EmptyTreeAndMidnightStamp) {
  TkoXmlParser p;
  EXPECT_EQ(p.GetXmlText(Stamp(14, 5, 9)), kHeader + "<!-- empty -->");
  const std::string midnight = p.GetXmlText(Stamp(0, 0, 0));
  EXPECT_NE(midnight.find("<!-- XML file by TkoXmlParser - 09/12/2026 -->\r\n"), std::string::npos)
      << midnight;
}

TEST(Writer, LayoutOfAttributesLinesChildrenAndEmptyElements) {
  TkoXmlParser p;
  auto* net = new TkoXmlElement("net", "");
  p.AddRoot(net);
  net->SetAttribute("version", "2");
  net->SetAttribute("kind", "bus");
  net->SetValue("setup", "a", "1");
  net->SetValue("setup", "b", "2");
  net->AddChild(new TkoXmlElement("dev", ""));
  auto* named = new TkoXmlElement("x", "");
  named->SetAttribute("", "dropped");
  named->SetAttribute("id", "7");
  net->AddChild(named);
  net->AddChild(new TkoXmlElement("BR", ""));
  EXPECT_EQ(p.GetXmlText(Stamp(14, 5, 9)),
            kHeader +
                "\r\n<net kind=\"bus\" version=\"2\">"
                "\r\n   <setup>"
                "\r\n      a=1<br/>"
                "\r\n      b=2"
                "\r\n   </setup>"
                "\r\n   <dev/>"
                "\r\n   <x id=\"7\"/>"
                "\r\n   <BR></BR>"  // "<BR/>" would read back as a line break
                "\r\n</net>");
}

TEST(Writer, EscapesMarkupControlCharactersAndBlanksTheReaderWouldDrop) {
  struct Case {
    const char* line;
    const char* written;
  } cases[] = {
      {"a&b<c>\"'", "a&amp;b&lt;c>\"'"},
      {" lead", "&#32;lead"},
      {"trail ", "trail&#32;"},
      {"a  b", "a &#32;b"},
      {"tab\there", "tab&#9;here"},
      {"cr\r\nlf", "cr&#13;&#10;lf"},
      {"\xE9\x80\x81", "\xC3\xA9\xE2\x82\xAC\xC2\x81"},
  };
  for (const Case& c : cases) {
    TkoXmlParser p;
    p.AddRoot(new TkoXmlElement("r", ""));
    p.Root()->AddContentLine(c.line);
    const std::string text = p.GetXmlText(Stamp(1, 0, 0));
    EXPECT_NE(text.find(std::string("\r\n   ") + c.written + "\r\n</r>"), std::string::npos)
        << c.line << "\n"
        << text;
  }
}

TEST(Writer, EscapesAttributeValues) {
  TkoXmlParser p;
  p.AddRoot(new TkoXmlElement("r", ""));
  p.Root()->SetAttribute("v", "a\"b&c<d>e'f\tg\xE9");
  EXPECT_NE(p.GetXmlText(Stamp(1, 0, 0)).find("<r v=\"a&quot;b&amp;c&lt;d>e'f&#9;g\xC3\xA9\"/>"),
            std::string::npos);
}

TEST(Writer, AnEmptyLastLineIsEndedByABreak) {
  TkoXmlParser p;
  p.AddRoot(new TkoXmlElement("r", ""));
  p.Root()->AddContentLine("x");
  p.Root()->AddContentLine("");
  EXPECT_NE(p.GetXmlText(Stamp(1, 0, 0)).find("\r\n   x<br/>\r\n   <br/>\r\n</r>"),
            std::string::npos);
}

class TempDir : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/vx_xml_writer_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }
  std::string dir_;
};

TEST_F(TempDir, SaveToFileEndsEveryLineWithCrLf) {
  TkoXmlParser p;
  p.AddRoot(new TkoXmlElement("net", ""));
  p.Root()->SetValue("setup", "a", "1");
  const std::string file = dir_ + "/net.xml";
  p.SaveToFile(file);
  std::ifstream in(file, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  const std::string data = ss.str();
  // Header, one empty line, then the tree; the last line ends with CR LF as well.
  ASSERT_GT(data.size(), 4u);
  EXPECT_EQ(data.substr(data.size() - 8), "</net>\r\n");
  EXPECT_NE(data.find(" -->\r\n\r\n<net>\r\n"), std::string::npos) << data;
  for (std::size_t i = 0; i < data.size(); ++i) {
    if (data[i] == '\n') {
      EXPECT_TRUE(i > 0 && data[i - 1] == '\r') << "bare LF at " << i;
    }
    if (data[i] == '\r') {
      EXPECT_TRUE(i + 1 < data.size() && data[i + 1] == '\n') << "bare CR at " << i;
    }
  }
  TkoXmlParser back;
  ASSERT_TRUE(back.LoadFromFile(file));
  EXPECT_EQ(back.Root()->GetValue("setup", "a", ""), "1");
}

TEST_F(TempDir, SaveToFileFailureThrowsAndLeavesNoFile) {
  TkoXmlParser p;
  EXPECT_THROW(p.SaveToFile(dir_ + "/missing/net.xml"), EkoException);
  EXPECT_EQ(std::system(("test -z \"$(ls -A '" + dir_ + "')\"").c_str()), 0);
}

}  // namespace
