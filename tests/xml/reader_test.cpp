// Reading a document into the element tree, and the round trip writer -> reader.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

#include "xml/koxmlparser.h"

namespace {

std::tm Stamp() {
  std::tm t{};
  t.tm_year = 126;
  t.tm_mday = 1;
  t.tm_hour = 12;
  return t;
}

// Name, sorted attributes, content lines and children of a subtree, as one text.
std::string Dump(const TkoXmlElement* e, int level = 0) {
  std::string out(static_cast<std::size_t>(level) * 2, ' ');
  out += "[" + e->Name() + "]";
  for (int i = 0; i < e->Attributes().Count(); ++i)
    out += " " + e->Attributes().Name(i) + "=" + e->Attributes().Value(i);
  for (const std::string& l : e->Content()) out += " |" + l + "|";
  out += "\n";
  for (const TkoXmlElement* c = e->Child(); c; c = c->Next()) out += Dump(c, level + 1);
  return out;
}

TEST(Reader, BreaksSeparateLinesAndChildrenJoinText) {
  TkoXmlParser p;
  p.LoadFromBuffer(
      "<r><a>one<br/>two</a><b>one two</b><c>one<x/>two</c><d>one<BR/><br/>three</d></r>");
  ASSERT_NE(p.Root(), nullptr);
  EXPECT_EQ(Dump(p.Root()),
            "[r]\n"
            "  [a] |one| |two|\n"
            "  [b] |one two|\n"
            "  [c] |one two|\n"
            "    [x]\n"
            "  [d] |one| || |three|\n");
}

TEST(Reader, TextIsTrimmedAndFoldedAttributesComeBackSorted) {
  TkoXmlParser p;
  p.LoadFromBuffer("<r z=\"1\" a=\"2\">  a \r\n   b  </r>");
  EXPECT_EQ(Dump(p.Root()), "[r] a=2 z=1 |a b|\n");
}

// A component whose factory makes setup objects of its own, as the network component does.
struct ConnSetup : TkoXmlElement {
  int analyzed = 0;
  int port = -1;
  void AnalyzeContent() override {
    ++analyzed;
    port = GetInteger("setup", "port", 0);
  }
};

struct Network : TkoXmlParser {
  std::vector<std::string> log;
  TkoXmlElement* AllocXmlElement(TkoXmlElement* parent) override {
    const std::string& tag = Scanner().PartName();
    if (vx::SameTextAscii(tag, "refused")) return nullptr;
    log.push_back("alloc:" + tag + (parent ? " in " + parent->Name() : ""));
    if (vx::SameTextAscii(tag, "conn")) return new ConnSetup();
    return TkoXmlParser::AllocXmlElement(parent);
  }
  Network() {
    OnAddChild = [this](TkoXmlParser*, TkoXmlElement* c) { log.push_back("add:" + c->Name()); };
    OnContentAnalyzed = [this](TkoXmlParser*, TkoXmlElement* c) {
      log.push_back("loaded:" + c->Name());
    };
  }
};

TEST(Reader, FactoryObjectsAreAttachedFilledAndAnalysed) {
  Network n;
  n.LoadFromBuffer("<net><conn><setup>port=5</setup></conn></net>");
  auto* conn = dynamic_cast<ConnSetup*>(n.Root()->FindChild("conn", false));
  ASSERT_NE(conn, nullptr);
  EXPECT_EQ(conn->analyzed, 1);
  EXPECT_EQ(conn->port, 5);
  EXPECT_EQ(conn->Parser(), &n);
  EXPECT_EQ(n.log, (std::vector<std::string>{"alloc:net", "add:net", "alloc:conn in net",
                                             "add:conn", "alloc:setup in conn", "add:setup",
                                             "loaded:setup", "loaded:conn", "loaded:net"}));
}

TEST(Reader, ARefusedTagIsSkippedWithItsInsideCountingNestedNames) {
  Network n;
  n.LoadFromBuffer("<net><refused><refused>x</refused><inner/>y</refused><kept>z</kept></net>");
  EXPECT_EQ(Dump(n.Root()), "[net]\n  [kept] |z|\n");
}

TEST(Reader, UnclosedElementsStayFilledButAreNeverAnalysed) {
  Network n;
  n.LoadFromBuffer("<net><conn><setup>port=7</setup>");
  auto* conn = dynamic_cast<ConnSetup*>(n.Root()->Child());
  ASSERT_NE(conn, nullptr);
  EXPECT_EQ(conn->analyzed, 0);
  EXPECT_EQ(conn->GetInteger("setup", "port", 0), 7);
  EXPECT_FALSE(n.ReadIncomplete());
}

TEST(Reader, MalformedStructureIsReadTolerantly) {
  struct Case {
    const char* doc;
    const char* tree;
    bool incomplete;
  } cases[] = {
      {"<a>x</b>after", "[a] |x|\n", false},         // end tags are not compared
      {"<a/><b>second root</b>", "[a]\n", true},     // a second top-level element is dropped
      {"</x>text<br/><r/>", "[r]\n", false},         // top-level debris is ignored
      {"<a><>inside</a>", "[a] |inside|\n", false},  // "<>" names no element
      {"<a k=\"1\" k=\"2\"/>", "[a] k=2\n", true},   // one attribute per name
  };
  for (const Case& c : cases) {
    TkoXmlParser p;
    p.LoadFromBuffer(c.doc);
    ASSERT_NE(p.Root(), nullptr) << c.doc;
    EXPECT_EQ(Dump(p.Root()), c.tree) << c.doc;
    EXPECT_EQ(p.ReadIncomplete(), c.incomplete) << c.doc;
  }
}

TEST(Reader, NestingDepthIsBounded) {
  const int levels = TkoXmlParser::kMaxReadDepth + 50;
  std::string doc;
  for (int i = 0; i < levels; ++i) doc += "<e>";
  doc += "deep";
  for (int i = 0; i < levels; ++i) doc += "</e>";
  doc += "<tail/>";
  TkoXmlParser p;
  p.LoadFromBuffer(doc.c_str());
  int depth = 0;
  for (const TkoXmlElement* e = p.Root(); e; e = e->Child()) ++depth;
  EXPECT_EQ(depth, TkoXmlParser::kMaxReadDepth);
  EXPECT_TRUE(p.ReadIncomplete());
}

TEST(Reader, LoadFromFileThatCannotBeReadEmptiesTheTree) {
  TkoXmlParser p;
  p.LoadFromBuffer("<old/>");
  ASSERT_NE(p.Root(), nullptr);
  EXPECT_FALSE(p.LoadFromFile("/nonexistent/dir/net.xml"));
  EXPECT_EQ(p.Root(), nullptr);
}

TEST(Reader, AnEmptyDocumentGivesAnEmptyTree) {
  TkoXmlParser p;
  TkoXmlParser written;
  p.LoadFromBuffer(written.GetXmlText(Stamp()).c_str());
  EXPECT_EQ(p.Root(), nullptr);
}

// Writes a tree, reads it back and compares names, attributes and content lines.
std::string RoundTrip(const TkoXmlParser& source) {
  TkoXmlParser back;
  back.LoadFromBuffer(source.GetXmlText(Stamp()).c_str());
  EXPECT_FALSE(back.ReadIncomplete());
  return back.Root() ? Dump(back.Root()) : std::string("(none)");
}

TEST(RoundTrip, SpecialTexts) {
  const std::vector<std::vector<std::string>> contents = {
      {},
      {""},
      {"", ""},
      {"x", ""},
      {"", "x"},
      {"a&b<c>d]]>e", "\"quoted\" 'single'"},
      {"&amp; &#65; &undeclared;"},
      {"  lead", "trail  ", "in   side", "\ttab\r\nbreaks\n"},
      {"\xE9\xE8\x80\x81\x8D\x8F\x90\x9D\xFF\xA0"},
      {"<br/>", "</r>"},
      {std::string("nul\0inside", 10)},
  };
  for (const auto& lines : contents) {
    TkoXmlParser p;
    auto* r = new TkoXmlElement("r", "");
    p.AddRoot(r);
    r->SetAttribute("v", lines.empty() ? std::string("\t\"<&>'\xE9 ") : lines.front());
    for (const auto& l : lines) r->AddContentLine(l);
    r->AddChild(new TkoXmlElement("child", ""));
    auto* leaf = new TkoXmlElement("leaf", "");
    for (const auto& l : lines) leaf->AddContentLine(l);
    r->AddChild(leaf);
    EXPECT_EQ(RoundTrip(p), Dump(r)) << (lines.empty() ? "(no lines)" : lines.front());
  }
}

TEST(RoundTrip, RandomTrees) {
  std::mt19937 rng(20261209);
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  auto text = [&](int maxLen) {
    static const std::string alphabet = std::string("ab =&<>\"';\t\r\n#x\xE9\x80\x81\xFF") + '\0';
    std::string s;
    const int n = pick(maxLen + 1);
    for (int i = 0; i < n; ++i)
      s += alphabet[static_cast<std::size_t>(pick(static_cast<int>(alphabet.size())))];
    return s;
  };
  const char* names[] = {"net", "conn", "device", "setup", "br", "BR", "x\xE9", "a.b-c_d:e"};
  std::function<void(TkoXmlElement*, int)> grow = [&](TkoXmlElement* e, int depth) {
    for (int i = pick(3); i > 0; --i) e->SetAttribute("k" + std::to_string(pick(4)), text(6));
    if (pick(4) == 0) e->SetAttribute("e\xE9", "");
    for (int i = pick(4); i > 0; --i) e->AddContentLine(text(8));
    if (depth < 4)
      for (int i = pick(4); i > 0; --i) {
        auto* c = new TkoXmlElement(names[pick(8)], "");
        e->AddChild(c);
        grow(c, depth + 1);
      }
  };
  for (int round = 0; round < 300; ++round) {
    TkoXmlParser p;
    auto* root = new TkoXmlElement(names[pick(8)], "");
    p.AddRoot(root);
    grow(root, 0);
    ASSERT_EQ(RoundTrip(p), Dump(root)) << "round " << round << "\n" << p.GetXmlText(Stamp());
  }
}

}  // namespace
