// The tolerant XML scanner: parts, attributes, references, the document type declaration,
// encodings and its limits on hostile input.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "xml/xmlscanner.h"

namespace {

// One line per part: a kind letter, then the name and/or text.
std::string Describe(const TXmlParser& s) {
  switch (s.PartKind()) {
    case ptXmlProlog:
      return "X";
    case ptComment:
      return "!";
    case ptPI:
      return "P " + s.PartName() + "|" + s.PartText();
    case ptDtdc:
      return "D";
    case ptStartTag:
      return "S " + s.PartName();
    case ptEmptyTag:
      return "e " + s.PartName();
    case ptEndTag:
      return "E " + s.PartName();
    case ptContent:
      return "T " + s.PartText();
    case ptCData:
      return "C " + s.PartText();
    default:
      return "?";
  }
}

std::vector<std::string> Parts(TXmlParser& s) {
  std::vector<std::string> out;
  s.StartScan();
  while (s.Scan()) {
    out.push_back(Describe(s));
    if (out.size() > 10000) break;  // a scan that never ends fails below, not by hanging
  }
  return out;
}

std::vector<std::string> Parts(const std::string& doc) {
  TXmlParser s;
  s.LoadFromBuffer(doc.c_str());
  return Parts(s);
}

using V = std::vector<std::string>;

TEST(ScannerParts, KindsOfParts) {
  struct Case {
    const char* doc;
    V parts;
  } cases[] = {
      {"<?xml version=\"1.0\"?><a>t</a>", {"X", "S a", "T t", "E a"}},
      {"<a/><b / ><c x='1'/></c>", {"e a", "e b", "e c", "E c"}},
      {"<a>\r\n   \t\r\n</a>", {"S a", "E a"}},  // white space only: no text
      {"<a>a\n     b</a>", {"S a", "T a b", "E a"}},
      {"<a>  x  </a>", {"S a", "T x", "E a"}},
      {"<!-- c --><?pi  data here?><![CDATA[ <raw>&amp; ]]>",
       {"!", "P pi|data here", "C  <raw>&amp; "}},
      {"<a>&lt;&gt;&amp;&apos;&quot;</a>", {"S a", "T <>&'\"", "E a"}},
      {"<a>&#65;&#x42;&#X43;&#321;&#zz;.</a>",
       {"S a", "T ABC\xBF .", "E a"}},  // L with stroke: not in the code page; junk: a blank
      {"<a>x &nbsp; y</a>", {"S a", "T x nbsp y", "E a"}},  // undeclared: the bare name
      {"<a>&amp;#65;</a>", {"S a", "T &#65;", "E a"}},
      {"<a>fish & chips; more</a>", {"S a", "T fish & chips; more", "E a"}},  // not a reference
      // Unterminated constructs run to the end of the text.
      {"<a>text<!-- open", {"S a", "T text", "!"}},
      {"<a><![CDATA[open", {"S a", "C open"}},
      {"<a><?pi open", {"S a", "P pi|open"}},
      {"<a b=\"open", {"S a"}},
      {"<", {"S "}},
      {"text only", {"T text only"}},
  };
  for (const Case& c : cases) EXPECT_EQ(Parts(c.doc), c.parts) << c.doc;
}

TEST(ScannerParts, AttributesAreSortedAndAnalysed) {
  TXmlParser s;
  s.LoadFromBuffer("<t zeta=\"1\" alpha='2' flag beta = \"a\tb\" gamma=unquoted/>");
  s.StartScan();
  ASSERT_TRUE(s.Scan());
  EXPECT_EQ(s.PartKind(), ptEmptyTag);
  const TAttrList& a = s.PartAttributes();
  ASSERT_EQ(a.Count(), 4);
  EXPECT_EQ(a.Name(0), "alpha");
  EXPECT_EQ(a.Name(1), "beta");
  EXPECT_EQ(a.Value("beta"), "a b") << "literal white space becomes a blank";
  EXPECT_EQ(a.Value("gamma"), "unquoted");
  EXPECT_EQ(a.Name(3), "zeta");
  EXPECT_EQ(a.Node("flag"), nullptr) << "a name without a value makes no attribute";
  EXPECT_EQ(a.Attr(0)->ValueType, vtNormal);
  EXPECT_EQ(a.Attr(0)->AttrType, atUnknown);
}

// A name written twice: the value written last is the one a lookup finds, in tags, in
// processing instructions and in the XML declaration alike.
TEST(ScannerParts, ARepeatedAttributeNameGivesTheLastValue) {
  struct Case {
    const char* doc;
    const char* name;
  } cases[] = {
      {"<t a=\"1\" b=\"x\" a=\"2\"/>", "a"},
      {"<?pi a=\"1\" b=\"x\" a=\"2\"?>", "a"},
      {"<?xml version=\"1\" version=\"2\"?>", "version"},
  };
  for (const Case& c : cases) {
    TXmlParser s;
    s.LoadFromBuffer(c.doc);
    s.StartScan();
    ASSERT_TRUE(s.Scan()) << c.doc;
    EXPECT_EQ(s.PartAttributes().Value(c.name), "2") << c.doc;
  }
  TXmlParser s;
  s.LoadFromBuffer("<?xml version=\"1\" version=\"2\"?>");
  s.StartScan();
  ASSERT_TRUE(s.Scan());
  EXPECT_EQ(s.XmlVersion(), "2");
}

TEST(ScannerParts, AttributeReferences) {
  struct Case {
    const char* value;
    const char* expected;
  } cases[] = {
      {"a&amp;b", "a&b"},     {"&undeclared;", "&undeclared;"},  // stays as written
      {"&amp;#65;", "&#65;"},                                    // an escaped ampersand stays one
      {"&#9;&#10;", "\t\n"},                                     // referenced white space survives
      {"&lt;&quot;", "<\""},  {"a & b", "a & b"},
  };
  for (const Case& c : cases) {
    TXmlParser s;
    s.LoadFromBuffer((std::string("<t v=\"") + c.value + "\"/>").c_str());
    s.StartScan();
    ASSERT_TRUE(s.Scan());
    EXPECT_EQ(s.PartAttributes().Value("v"), c.expected) << c.value;
  }
}

TEST(ScannerParts, CharacterReferencesBecomeWindows1252) {
  struct Case {
    const char* ref;
    const char* expected;
  } cases[] = {
      {"&#65;", "A"},
      {"&#233;", "\xE9"},  // up to 255 the code is the byte
      {"&#150;", "\x96"},
      {"&#8217;", "\x92"},  // a typographic apostrophe
      {"&#8364;", "\x80"},  // the euro sign
      {"&#x20ac;", "\x80"},
      {"&#X152;", "\x8C"},
      {"&#12354;", "\xBF"},       // the code page has none: the replacement character
      {"&#1114112;", "\xBF"},     // beyond Unicode
      {"&#4294967361;", "\xBF"},  // 2^32 + 65: no wrap to "A"
      {"&#x100000041;", "\xBF"},
      {"&#;", " "},  // not a number
      {"&#12a;", " "},
      {"a & b;", "a & b;"},  // an "&" that starts no reference stays text
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.ref);
    EXPECT_EQ(Parts(std::string("<t>") + c.ref + "</t>"),
              (V{"S t", std::string("T ") + c.expected, "E t"}));
    TXmlParser s;
    s.LoadFromBuffer((std::string("<t v=\"") + c.ref + "\"/>").c_str());
    s.StartScan();
    ASSERT_TRUE(s.Scan());
    EXPECT_EQ(s.PartAttributes().Value("v"), c.expected);
  }
  // A UTF-8 document reads them alike.
  EXPECT_EQ(Parts("<?xml version=\"1.0\" encoding=\"UTF-8\"?><t>&#8364;&#8217;\xE2\x82\xAC</t>"),
            (V{"X", "S t", "T \x80\x92\x80", "E t"}));
}

TEST(ScannerParts, NormalizeOffKeepsTextAsWritten) {
  TXmlParser s;
  s.LoadFromBuffer("<a> x\n y </a>");
  s.SetNormalize(false);
  EXPECT_EQ(Parts(s), (V{"S a", "T  x\n y ", "E a"}));
}

TEST(ScannerParts, AZeroByteEndsTheDocument) {
  const std::string doc("<a>x</a>\0<b>y</b>", 17);
  TXmlParser s;
  s.LoadFromBuffer(doc.c_str());
  EXPECT_EQ(Parts(s), (V{"S a", "T x", "E a"}));
}

TEST(ScannerEncoding, XmlDeclarationAndUtf8Text) {
  TXmlParser s;
  s.LoadFromBuffer(
      "<?xml version=\"1.0\" encoding=\"utf-8\" standalone=\"yes\"?><a "
      "n\xC3\xA9=\"\xE2\x82\xAC\">\xC3\xA9</a>");
  EXPECT_EQ(Parts(s), (V{"X", "S a", "T \xE9", "E a"}));
  EXPECT_EQ(s.CurrentEncoding(), "UTF-8");
  EXPECT_EQ(s.XmlVersion(), "1.0");
  EXPECT_EQ(s.Encoding(), "utf-8");
  EXPECT_TRUE(s.Standalone());

  // The encoding stays for the next document without a declaration.
  s.LoadFromBuffer("<a n\xC3\xA9=\"\xE2\x82\xAC\"/>");
  s.StartScan();
  ASSERT_TRUE(s.Scan());
  EXPECT_EQ(s.PartAttributes().Value("n\xE9"), "\x80");
  TXmlParser fresh;
  fresh.LoadFromBuffer("<a>\xC3\xA9</a>");
  EXPECT_EQ(Parts(fresh), (V{"S a", "T \xC3\xA9", "E a"})) << "a new scanner converts nothing";
}

TEST(ScannerEncoding, Utf8ToAnsi) {
  struct Case {
    std::string in;
    std::string out;
  } cases[] = {
      {"plain", "plain"},
      {"\xC3\xA9", "\xE9"},
      {"\xE2\x82\xAC", "\x80"},
      {"\xC2\x81", "\x81"},            // unassigned positions keep their own value
      {"\xC2\x80", "\xBF"},            // U+0080 has no position
      {"\xE4\xB8\xAD", "\xBF"},        // not in the code page
      {"\xF0\x9F\x98\x80x", "\xBFx"},  // beyond 16 bits: one replacement, bytes skipped
      {"\xC3", "\xBF"},                // cut short by the end
      {"\xC3"
       "A",
       "\xBF"
       "A"},  // cut short by a plain character, which stays
      {"\x80", "\xBF"},
      {"\xFF", "\xBF"},
      // Overlong forms never stand for a shorter character (a blank or "<" in disguise).
      {"\xC0\xA0", "\xBF"},
      {"\xC1\xBC"
       "x",
       "\xBF"
       "x"},
      {"\xE0\x80\xBC", "\xBF"},
      {"\xE0\x9F\xBF", "\xBF"},
      {"\xC2\xA0", "\xA0"},
      {"\xE2\x80\x9A", "\x82"},
  };
  for (const Case& c : cases) EXPECT_EQ(TXmlParser::Utf8ToAnsi(c.in), c.out) << c.in;
  for (int b = 0; b < 256; ++b) {
    const std::string one(1, static_cast<char>(b));
    EXPECT_EQ(TXmlParser::Utf8ToAnsi(TXmlParser::AnsiToUtf8(one)), one) << b;
  }
}

TEST(ScannerEncoding, AnOverlongBlankDoesNotSplitAName) {
  TXmlParser s;
  s.LoadFromBuffer(
      "<?xml version=\"1.0\" encoding=\"utf-8\"?><r a\xC0\xA0"
      "b=\"1\"/>");
  s.StartScan();
  ASSERT_TRUE(s.Scan());
  ASSERT_TRUE(s.Scan());
  ASSERT_EQ(s.PartAttributes().Count(), 1);
  EXPECT_EQ(s.PartAttributes().Name(0),
            "a\xBF"
            "b");
  EXPECT_EQ(s.PartAttributes().Value(0), "1");
}

TEST(ScannerEncoding, WhiteSpaceHelpers) {
  EXPECT_EQ(TXmlParser::TrimWs(" \t\r\na b\n "), "a b");
  EXPECT_EQ(TXmlParser::ConvertWs("a \t\nb", true), "a b");
  EXPECT_EQ(TXmlParser::ConvertWs("a \t\nb", false), "a   b");
}

TEST(ScannerDtd, DefaultsFixedImpliedAndTokenizedAttributes) {
  const char* doc =
      "<!DOCTYPE net [\n"
      "  <!ENTITY % ty \"CDATA\">\n"
      "  <!ATTLIST dev kind (a|b) \"a\" note %ty; 'n&#65;' mode NMTOKEN #FIXED \"fast\"\n"
      "                id ID #IMPLIED tok NMTOKENS #REQUIRED>\n"
      "]>\n"
      "<dev id=\"d1\" mode=\"slow\" tok=\"  x \t y \"/>";
  TXmlParser s;
  s.LoadFromBuffer(doc);
  s.StartScan();
  ASSERT_TRUE(s.Scan());
  EXPECT_EQ(s.PartKind(), ptDtdc);
  EXPECT_EQ(s.RootElementName(), "net");
  ASSERT_TRUE(s.Scan());
  const TAttrList& a = s.PartAttributes();
  ASSERT_NE(a.Attr("kind"), nullptr);
  EXPECT_EQ(a.Attr("kind")->Value, "a");
  EXPECT_EQ(a.Attr("kind")->ValueType, vtDefault);
  EXPECT_EQ(a.Attr("kind")->AttrType, atEnumeration);
  EXPECT_EQ(a.Value("note"), "nA")
      << "parameter entity as the type, character reference in the default";
  EXPECT_EQ(a.Attr("note")->AttrType, atCData);
  EXPECT_EQ(a.Attr("mode")->Value, "fast");
  EXPECT_EQ(a.Attr("mode")->ValueType, vtFixed);
  EXPECT_EQ(a.Attr("id")->ValueType, vtImplied);
  EXPECT_EQ(a.Attr("tok")->Value, "x y") << "tokenized types fold and trim";
  const TElemDef* def = s.ElementDefs().Node("dev");
  ASSERT_NE(def, nullptr);
  EXPECT_EQ(def->ElemType, etAny);
  EXPECT_EQ(def->AttrDef("kind")->TypeDef, "(a|b)");
}

TEST(ScannerDtd, DeclarationsAreStored) {
  const char* doc =
      "<!DOCTYPE r [<!ELEMENT r (#PCDATA|b)*><!ELEMENT b EMPTY><!ELEMENT c (b , b)>"
      "<!ENTITY % pe 'x'><!ENTITY g \"%pe;&#65;\"><!ENTITY u SYSTEM \"u.dat\" NDATA gif>"
      "<!NOTATION gif PUBLIC \"-//gif\" \"viewer\"><!ENTITY g 'second'>]><r/>";
  TXmlParser s;
  s.LoadFromBuffer(doc);
  Parts(s);
  EXPECT_EQ(s.ElementDefs().Node("r")->ElemType, etMixed);
  EXPECT_EQ(s.ElementDefs().Node("b")->ElemType, etEmpty);
  EXPECT_EQ(s.ElementDefs().Node("c")->ElemType, etChildren);
  EXPECT_EQ(s.ElementDefs().Node("c")->Definition, "(b,b)");
  EXPECT_EQ(s.ParamEntityDefs().Value("pe"), "x");
  EXPECT_EQ(s.EntityDefs().Value("g"), "second") << "a later definition replaces the earlier one";
  EXPECT_EQ(s.EntityDefs().Count(), 2);
  const auto* u = static_cast<const TEntityDef*>(s.EntityDefs().Node("u"));
  EXPECT_EQ(u->SystemId, "u.dat");
  EXPECT_EQ(u->NotationName, "gif");
  const auto* n = static_cast<const TNotationDef*>(s.NotationDefs().Node("gif"));
  EXPECT_EQ(n->Value, "viewer");
  EXPECT_EQ(n->PublicId, "-//gif");
}

TEST(ScannerDtd, InternalEntitiesAreReadAsMarkup) {
  const char* doc =
      "<!DOCTYPE a [<!ENTITY e \"<b>in &amp; out</b>\"><!ENTITY v 'x'>]>"
      "<a w=\"&v;&v;\">pre &e; post</a>";
  TXmlParser s;
  s.LoadFromBuffer(doc);
  EXPECT_EQ(Parts(s), (V{"D", "S a", "T pre", "S b", "T in & out", "E b", "T post", "E a"}));
  s.StartScan();
  ASSERT_TRUE(s.Scan());
  ASSERT_TRUE(s.Scan());
  EXPECT_EQ(s.PartAttributes().Value("w"), "xx");
  EXPECT_EQ(Parts(s), Parts(s)) << "a second pass skips the analysed declaration";
}

// Declarations are document text like any other: in a UTF-8 document their names, default
// values and entity texts come out in the 8-bit code page, character references included.
TEST(ScannerDtd, DeclarationsOfAUtf8DocumentAreTranslated) {
  const char* doc =
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>"
      "<!DOCTYPE r [<!ATTLIST n\xC3\xA9 d CDATA \"\xC3\xA9&#233;\" f CDATA #FIXED \"\xC3\xBC\">"
      "<!ENTITY e \"\xC3\xA9&#233;&#10;x\">]>"
      "<n\xC3\xA9 a=\"&e;\" f=\"other\">&e;</n\xC3\xA9>";
  TXmlParser s;
  s.LoadFromBuffer(doc);
  EXPECT_EQ(Parts(s), (V{"X", "D", "S n\xE9", "T \xE9\xE9 x", "E n\xE9"}));
  s.StartScan();
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(s.Scan());
  const TAttrList& a = s.PartAttributes();
  EXPECT_EQ(a.Value("d"), "\xE9\xE9") << "declared default";
  EXPECT_EQ(a.Value("f"), "\xFC") << "fixed value";
  EXPECT_EQ(a.Value("a"), "\xE9\xE9 x") << "entity text in an attribute value";
}

TEST(ScannerDtd, DtdElementFoundSeesEveryDeclaration) {
  struct Recorder : TXmlParser {
    std::vector<TDtdElemType> kinds;
    void DtdElementFound(const TDtdElementRec& rec) override { kinds.push_back(rec.ElementType); }
  } s;
  s.LoadFromBuffer(
      "<!DOCTYPE r [<!ELEMENT r ANY><!ATTLIST r a CDATA #IMPLIED><!ENTITY e 'x'>"
      "<!NOTATION n SYSTEM 's'><?pi x?><!-- c --><!BOGUS>]><r/>");
  Parts(s);
  EXPECT_EQ(s.kinds, (std::vector<TDtdElemType>{deElement, deAttList, deEntity, deNotation, dePI,
                                                deComment, deError}));
}

TEST(ScannerLimits, ExponentialAndRecursiveEntitiesAreBounded) {
  std::string dtd = "<!DOCTYPE l [<!ENTITY a0 \"xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx\">";
  for (int i = 1; i < 12; ++i) {
    dtd += "<!ENTITY a" + std::to_string(i) + " \"";
    for (int k = 0; k < 10; ++k) dtd += "&a" + std::to_string(i - 1) + ";";
    dtd += "\">";
  }
  dtd += "<!ENTITY r \"&r;<x>&r;</x>\">]>";
  struct Case {
    const char* what;
    std::string doc;
  } cases[] = {
      {"text", dtd + "<l>&a11;</l>"},
      {"attribute", dtd + "<l v=\"&a11;\"/>"},
      {"recursive", dtd + "<l>&r;</l>"},
      {"recursive attribute", dtd + "<l v=\"&r;\"/>"},
  };
  for (const Case& c : cases) {
    TXmlParser s;
    s.LoadFromBuffer(c.doc.c_str());
    std::size_t produced = 0;
    std::size_t parts = 0;
    s.StartScan();
    while (s.Scan()) {
      produced += s.PartText().size();
      for (int i = 0; i < s.PartAttributes().Count(); ++i)
        produced += s.PartAttributes().Value(i).size();
      ++parts;
    }
    EXPECT_TRUE(s.LimitHit()) << c.what;
    EXPECT_LE(produced, TXmlParser::kMaxEntityExpansion + c.doc.size()) << c.what;
    EXPECT_LE(parts, TXmlParser::kMaxEntityExpansion) << c.what;
  }
}

TEST(ScannerLimits, ParameterEntityLoopsEnd) {
  TXmlParser s;
  s.LoadFromBuffer(
      "<!DOCTYPE l [<!ENTITY % p \"%p;%p;\">%p;<!ENTITY % q \"<!ATTLIST l a CDATA "
      "'%q;'>\">%q;]><l/>");
  EXPECT_EQ(Parts(s), (V{"D", "e l"}));
  EXPECT_TRUE(s.LimitHit());
}

TEST(ScannerLimits, ALaterDocumentTypeDeclarationNeverSendsTheScanBack) {
  TXmlParser s;
  s.LoadFromBuffer("<!DOCTYPE a><a/><!DOCTYPE b [<!ENTITY e 'x'>]><b>&e;</b>");
  EXPECT_EQ(Parts(s), (V{"D", "e a", "D", "S b", "T x", "E b"}));
  EXPECT_EQ(Parts(s), (V{"D", "e a", "D", "S b", "T x", "E b"}));
}

TEST(ScannerLimits, ManyAmpersandsWithoutSemicolonsScanInLinearTime) {
  // Each "&" used to search the rest of the text for ";": quadratic on this input.
  const std::string doc = "<a>" + std::string(2'000'000, '&') + "</a>";
  TXmlParser s;
  s.SetBuffer(doc.c_str());
  s.StartScan();
  ASSERT_TRUE(s.Scan());
  ASSERT_TRUE(s.Scan());
  EXPECT_EQ(s.PartText().size(), 2'000'000u);
}

class ScannerFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/vx_xml_scan_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }
  void Write(const std::string& name, const std::string& text) {
    std::ofstream(dir_ + "/" + name, std::ios::binary) << text;
  }
  std::string dir_;
};

TEST_F(ScannerFiles, LoadFromFileAndExternalEntitiesFromTheDocumentFolder) {
  Write("sub.dtd", "junk before <!ATTLIST a mode CDATA \"ext\"><!ENTITY inner 'deep'>");
  Write("part.txt", "<b>from &inner; file</b>");
  Write("doc.xml",
        "<!DOCTYPE a SYSTEM \"sub.dtd\" [<!ENTITY part SYSTEM \"part.txt\"><!ENTITY none SYSTEM "
        "\"missing.txt\">]>"
        "<a>&part;&none;.</a>");
  TXmlParser s;
  ASSERT_TRUE(s.LoadFromFile(dir_ + "/doc.xml"));
  EXPECT_EQ(s.Source(), dir_ + "/doc.xml");
  EXPECT_EQ(Parts(s), (V{"D", "S a", "S b", "T from deep file", "E b", "T .", "E a"}));
  s.StartScan();
  s.Scan();
  s.Scan();
  EXPECT_EQ(s.PartAttributes().Value("mode"), "ext");
}

TEST_F(ScannerFiles, FilesThatCannotBeReadLeaveNothingLoaded) {
  ASSERT_EQ(mkfifo((dir_ + "/fifo").c_str(), 0600), 0);
  const std::string names[] = {dir_ + "/missing.xml", dir_, dir_ + "/fifo", "/dev/zero"};
  for (const std::string& name : names) {
    TXmlParser s;
    s.LoadFromBuffer("<old/>");
    EXPECT_FALSE(s.LoadFromFile(name)) << name;
    EXPECT_STREQ(s.GetDocBuffer(), "");
    s.StartScan();
    EXPECT_FALSE(s.Scan());
  }
}

TEST(TNvpList, SortedLookupAndDuplicates) {
  TNvpList l;
  l.Add(std::make_unique<TNvpNode>("b", "1"));
  l.Add(std::make_unique<TNvpNode>("a", "2"));
  l.Add(std::make_unique<TNvpNode>("b", "3"));
  l.Add(nullptr);
  ASSERT_EQ(l.Count(), 3);
  EXPECT_EQ(l.Name(0), "a");
  EXPECT_EQ(l.Value("b"), "3") << "a later node goes in front of earlier ones of its name";
  EXPECT_EQ(l.Value(2), "1");
  EXPECT_EQ(l.Node("B"), nullptr);
  EXPECT_EQ(l.Node(3), nullptr);
  EXPECT_EQ(l.Node(-1), nullptr);
  EXPECT_EQ(l.Name(7), "");
  EXPECT_EQ(l.Value("zz"), "");
}

}  // namespace
