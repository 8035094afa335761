// Element tree: ownership by chaining, notifications, lookup and typed Key=Value access.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <string>
#include <vector>

#include "xml/koxmlelement.h"
#include "xml/koxmlparser.h"

namespace {

// Counts live instances, so that tests see what a deletion really freed.
struct Counted : TkoXmlElement {
  static inline int alive = 0;
  explicit Counted(std::string name) : TkoXmlElement(std::move(name), {}) { ++alive; }
  ~Counted() override { --alive; }
};

std::vector<std::string> Names(const TkoXmlElement* first) {
  std::vector<std::string> n;
  for (; first; first = first->Next()) n.push_back(first->Name());
  return n;
}

// A parser with root "root" holding the given children; every notification lands in log
// as "<who>:<kind>:<affected>".
struct TreeFixture : ::testing::Test {
  std::vector<std::string> log;  // declared first: the parser's destructor still reports
  TkoXmlParser parser;

  void SetUp() override {
    parser.OnAddChild = [this](TkoXmlParser*, TkoXmlElement* c) {
      log.push_back("parser:add:" + c->Name());
    };
    parser.OnDelChild = [this](TkoXmlParser*, TkoXmlElement* c) {
      log.push_back("parser:del:" + c->Name());
    };
    parser.OnChangeContent = [this](TkoXmlParser*, TkoXmlElement* c) {
      log.push_back("parser:chg:" + c->Name());
    };
    parser.AddRoot(new TkoXmlElement("root", ""));
    log.clear();
  }
  TkoXmlElement* Root() { return parser.Root(); }
  TkoXmlElement* Add(TkoXmlElement* parent, const std::string& name) {
    auto* e = new Counted(name);
    parent->AddChild(e);
    return e;
  }
  void Listen(TkoXmlElement* e) {
    e->OnAddChild = [this](TkoXmlElement* s, TkoXmlElement* c) {
      log.push_back(s->Name() + ":add:" + c->Name());
    };
    e->OnDelChild = [this](TkoXmlElement* s, TkoXmlElement* c) {
      log.push_back(s->Name() + ":del:" + c->Name());
    };
    e->OnChangeContent = [this](TkoXmlElement* s, TkoXmlElement* c) {
      log.push_back(s->Name() + ":chg:" + c->Name());
    };
  }
};

TEST_F(TreeFixture, AddChildBubblesFromParentToParserAndSetsLinks) {
  TkoXmlElement* a = Add(Root(), "a");
  Listen(Root());
  Listen(a);
  log.clear();
  TkoXmlElement* b = Add(a, "b");
  EXPECT_EQ(log, (std::vector<std::string>{"a:add:b", "root:add:b", "parser:add:b"}));
  EXPECT_EQ(b->Parent(), a);
  EXPECT_EQ(b->Parser(), &parser);
  Add(a, "c");
  EXPECT_EQ(Names(a->Child()), (std::vector<std::string>{"b", "c"}));
}

TEST_F(TreeFixture, AddChildGivesTheParserToTheWholeSubtree) {
  auto* x = new Counted("x");
  TkoXmlElement* x1 = Add(x, "x1");
  TkoXmlElement* x2 = Add(x1, "x2");
  EXPECT_EQ(x2->Parser(), nullptr);
  Root()->AddChild(x);
  EXPECT_EQ(x1->Parser(), &parser);
  EXPECT_EQ(x2->Parser(), &parser);
}

TEST_F(TreeFixture, AddChildOfAnAttachedElementMovesIt) {
  TkoXmlElement* a = Add(Root(), "a");
  TkoXmlElement* b = Add(Root(), "b");
  TkoXmlElement* m = Add(a, "m");
  b->AddChild(m);
  EXPECT_EQ(a->Child(), nullptr);
  EXPECT_EQ(b->Child(), m);
  EXPECT_EQ(m->Parent(), b);
}

// Links that would make a cycle or give an element two owners are refused.
TEST_F(TreeFixture, AddChildRefusesItselfItsAncestorsAndRoots) {
  TkoXmlElement* a = Add(Root(), "a");
  TkoXmlElement* b = Add(a, "b");
  TkoXmlParser other;
  other.AddRoot(new TkoXmlElement("foreign", ""));
  struct Case {
    const char* what;
    TkoXmlElement* parent;
    TkoXmlElement* element;
  } cases[] = {
      {"itself", b, b},
      {"its parent", b, a},
      {"the root above it", b, Root()},
      {"its own root", Root(), Root()},
      {"another parser's root", b, other.Root()},
  };
  const std::string before = parser.GetXmlText(std::tm{});
  for (const Case& c : cases) {
    log.clear();
    c.parent->AddChild(c.element);
    EXPECT_TRUE(log.empty()) << c.what;
    EXPECT_EQ(parser.GetXmlText(std::tm{}), before) << c.what;
  }
  EXPECT_EQ(other.Root()->Parent(), nullptr);
  parser.ResetAll();
  parser.AddRoot(other.Root());
  EXPECT_EQ(parser.Root(), nullptr) << "a root has one owner";
}

TEST_F(TreeFixture, DeletingTheFirstOfThreeSiblingsDeletesAllInChainOrder) {
  Counted::alive = 0;
  TkoXmlElement* p = Add(Root(), "p");
  TkoXmlElement* a = Add(p, "a");
  Add(a, "a1");
  Add(p, "b");
  Add(p, "c");
  ASSERT_EQ(Counted::alive, 5);
  Listen(p);
  log.clear();
  delete a;
  // Following siblings first (last one first), then the subtree, then the element.
  EXPECT_EQ(log,
            (std::vector<std::string>{"p:del:c", "parser:del:c", "p:del:b", "parser:del:b",
                                      "p:del:a1", "parser:del:a1", "p:del:a", "parser:del:a"}));
  EXPECT_EQ(p->Child(), nullptr);
  EXPECT_EQ(Counted::alive, 1);
}

// A derived object's destructor runs before its element base and may still use the tree
// (device setups report their deletion through their connection): every sibling deleted
// along a chain must still be attached, with its children, when its destructor runs.
TEST_F(TreeFixture, EachDeletedSiblingIsStillAttachedWhenItsDestructorRuns) {
  struct Witness : TkoXmlElement {
    std::vector<std::string>* seen;
    Witness(std::string name, std::vector<std::string>* s)
        : TkoXmlElement(std::move(name), {}), seen(s) {}
    ~Witness() override {
      const std::string parent = Parent() ? Parent()->Name() : std::string("-");
      seen->push_back(Name() + " in " + parent + " with " +
                      std::to_string(CountChildren("", false)));
    }
  };
  std::vector<std::string> seen;
  TkoXmlElement* p = Add(Root(), "p");
  TkoXmlElement* first = nullptr;
  for (const char* name : {"a", "b", "c"}) {
    auto* w = new Witness(name, &seen);
    p->AddChild(w);
    Add(w, "kid");
    if (!first) first = w;
  }
  delete first;
  std::sort(seen.begin(), seen.end());
  EXPECT_EQ(seen, (std::vector<std::string>{"a in p with 1", "b in p with 1", "c in p with 1"}));
  EXPECT_EQ(p->Child(), nullptr);
  Add(p, "again");
  EXPECT_EQ(Names(p->Child()), (std::vector<std::string>{"again"}));
}

TEST_F(TreeFixture, DetachUnlinksOneElementAndKeepsItsParser) {
  TkoXmlElement* a = Add(Root(), "a");
  TkoXmlElement* b = Add(Root(), "b");
  TkoXmlElement* c = Add(Root(), "c");
  Listen(Root());
  log.clear();
  EXPECT_EQ(b->Detach(), b);
  EXPECT_EQ(log, (std::vector<std::string>{"root:del:b", "parser:del:b"}));
  EXPECT_EQ(Names(Root()->Child()), (std::vector<std::string>{"a", "c"}));
  EXPECT_EQ(b->Parent(), nullptr);
  EXPECT_EQ(b->Next(), nullptr);
  EXPECT_EQ(b->Parser(), &parser);
  EXPECT_EQ(c->Detach(), c);
  EXPECT_EQ(a->Next(), nullptr);
  EXPECT_EQ(a->Detach(), a);
  EXPECT_EQ(Root()->Child(), nullptr);
  EXPECT_EQ(Root()->Detach(), nullptr) << "a root stays the root";
  EXPECT_EQ(parser.Root()->Name(), "root");
  delete a;
  delete b;
  delete c;
}

TEST_F(TreeFixture, DeletingALongSiblingListNeedsNoDeepRecursion) {
  Counted::alive = 0;
  TkoXmlElement* p = Add(Root(), "p");
  for (int i = 0; i < 100000; ++i) p->AddChild(new Counted("s"));
  ASSERT_EQ(p->CountChildren("", false), 100000);
  int deleted = 0;
  parser.OnDelChild = [&](TkoXmlParser*, TkoXmlElement*) { ++deleted; };
  parser.ResetAll();
  EXPECT_EQ(deleted, 100001);
  EXPECT_EQ(Counted::alive, 0);
  EXPECT_EQ(parser.Root(), nullptr);
}

TEST_F(TreeFixture, ContentChangesRaiseOneNotificationEach) {
  TkoXmlElement* a = Add(Root(), "a");
  Listen(a);
  log.clear();
  a->SetContentText("x=1\r\ny=2\nz=3\r");
  a->AddContentLine("w=4");
  a->SetContentLine(0, "x=9");
  a->DeleteContentLine(1);
  a->SetContentLine(10, "ignored");
  EXPECT_EQ(a->Content(), (std::vector<std::string>{"x=9", "z=3", "w=4"}));
  EXPECT_EQ(std::count(log.begin(), log.end(), "a:chg:a"), 4);
  EXPECT_EQ(std::count(log.begin(), log.end(), "parser:chg:a"), 4);
  EXPECT_EQ(a->ContentText(), "x=9\r\nz=3\r\nw=4\r\n");
}

TEST_F(TreeFixture, AddRootOnlyOnceAndTheWholeSubtreeJoins) {
  auto* other = new TkoXmlElement("other", "");
  other->AddChild(new TkoXmlElement("kid", ""));
  parser.AddRoot(other);
  EXPECT_EQ(parser.Root()->Name(), "root");
  EXPECT_TRUE(log.empty());
  parser.ResetAll();
  parser.AddRoot(other);
  EXPECT_EQ(parser.Root(), other);
  EXPECT_EQ(log, (std::vector<std::string>{"parser:add:other"}));
  EXPECT_EQ(other->Child()->Parser(), &parser);
  parser.AddRoot(nullptr);
  EXPECT_EQ(parser.Root(), other);
}

TEST_F(TreeFixture, ResetAllNotifiesEveryAttachedElementButNotTheRoot) {
  TkoXmlElement* a = Add(Root(), "a");
  Add(a, "a1");
  Add(Root(), "b");
  log.clear();
  parser.ResetAll();
  EXPECT_EQ(log, (std::vector<std::string>{"parser:del:b", "parser:del:a1", "parser:del:a"}));
  EXPECT_EQ(parser.Root(), nullptr);
}

// root
//   b
//     x  (deep, in b)
//     y
//   X    (direct, letter case differs)
//   b
//     z
struct LookupFixture : ::testing::Test {
  TkoXmlElement root{"root", ""};
  TkoXmlElement *b1, *x1, *y, *x2, *b2, *z;
  void SetUp() override {
    b1 = new TkoXmlElement("b", "");
    root.AddChild(b1);
    x1 = new TkoXmlElement("x", "");
    b1->AddChild(x1);
    y = new TkoXmlElement("y", "");
    b1->AddChild(y);
    x2 = new TkoXmlElement("X", "");
    root.AddChild(x2);
    b2 = new TkoXmlElement("b", "");
    root.AddChild(b2);
    z = new TkoXmlElement("z", "");
    b2->AddChild(z);
  }
};

TEST_F(LookupFixture, FindChildPrefersDirectChildren) {
  EXPECT_EQ(root.FindChild("x", false), x2);
  EXPECT_EQ(root.FindChild("x", true), x2) << "a direct child wins over a deeper match";
  EXPECT_EQ(root.FindChild("y", false), nullptr);
  EXPECT_EQ(root.FindChild("Y", true), y);
  EXPECT_EQ(root.FindChild("z", true), z);
  EXPECT_EQ(root.FindChild("none", true), nullptr);
}

TEST_F(LookupFixture, FindNextWalksFollowingSiblingsAndTheirSubtrees) {
  EXPECT_EQ(b1->FindNext("b", false), b2);
  EXPECT_EQ(b2->FindNext("b", false), nullptr);
  EXPECT_EQ(b1->FindNext("y", true), nullptr) << "own subtree is not searched";
  EXPECT_EQ(b1->FindNext("z", true), z);
  EXPECT_EQ(b1->FindNext("z", false), nullptr);
}

TEST_F(LookupFixture, CountChildren) {
  EXPECT_EQ(root.CountChildren("", false), 3);
  EXPECT_EQ(root.CountChildren("B", false), 2);
  EXPECT_EQ(root.CountChildren("", true), 6);
  EXPECT_EQ(root.CountChildren("x", true), 2);
}

TEST(SearchSubTree, NameAndSubName) {
  TkoXmlParser p;
  EXPECT_EQ(p.SearchSubTree("net", ""), nullptr);
  auto* net = new TkoXmlElement("net", "");
  p.AddRoot(net);
  auto* conn = new TkoXmlElement("conn", "");
  net->AddChild(conn);
  auto* dev = new TkoXmlElement("dev", "");
  conn->AddChild(dev);
  auto* setup = new TkoXmlElement("setup", "");
  dev->AddChild(setup);
  struct Case {
    const char* name;
    const char* sub;
    TkoXmlElement* expected;
  } cases[] = {
      {"net", "", net},
      {"net", "net", net},   // same text: the element itself
      {"NET", "", nullptr},  // the root's own name compares exactly...
      {"Dev", "", dev},      // ...but the search below it ignores case
      {"dev", "setup", setup},
      {"dev", "Dev", nullptr},     // differs only by case: a different sub-name
      {"conn", "setup", nullptr},  // only direct children of the first element
      {"missing", "setup", nullptr},
  };
  for (const Case& c : cases)
    EXPECT_EQ(p.SearchSubTree(c.name, c.sub), c.expected) << c.name << " / " << c.sub;
}

TEST(TypedValues, GetIntegerFormats) {
  struct Case {
    const char* text;
    std::int32_t expected;
  } cases[] = {
      {"0x1F", 31},
      {"1Fh", 31},
      {"-12", -12},
      {"abc", 77},
      {"", 77},
      {"0X1F", 0},
      {"1FH", 1},
      {"  42", 42},
      {"12abc", 12},
      {"0xFFFFFFFF", -1},
      {"99999999999", INT32_MAX},
      {"-99999999999", INT32_MIN},
      {"0x", 77},
      {"h", 77},
  };
  for (const Case& c : cases) {
    TkoXmlElement e("dev", "");
    e.SetValue("setup", "n", c.text);
    EXPECT_EQ(e.GetInteger("setup", "n", 77), c.expected) << '"' << c.text << '"';
  }
}

TEST(TypedValues, GetBoolWordsAndNumbers) {
  struct Case {
    const char* text;
    bool whenDefaultFalse;
    bool whenDefaultTrue;
  } cases[] = {
      {"TRUE", true, true}, {" false\t", false, false}, {"2", true, true},    {"0", false, false},
      {"0x10", true, true}, {"", false, true},          {"yes", false, true},
  };
  for (const Case& c : cases) {
    TkoXmlElement e("dev", "");
    e.SetValue("setup", "b", c.text);
    EXPECT_EQ(e.GetBool("setup", "b", false), c.whenDefaultFalse) << '"' << c.text << '"';
    EXPECT_EQ(e.GetBool("setup", "b", true), c.whenDefaultTrue) << '"' << c.text << '"';
  }
}

TEST(TypedValues, GetValueFindsTheFirstLineOfTheKey) {
  TkoXmlElement e("dev", "");
  auto* setup = new TkoXmlElement(
      "setup", "no equals sign\r\nName=first\r\nNAME=second\r\nempty=\r\nexpr=a=b");
  e.AddChild(setup);
  EXPECT_EQ(e.GetValue("setup", "name", "d"), "first");
  EXPECT_EQ(e.GetValue("SETUP", "expr", "d"), "a=b");
  EXPECT_EQ(e.GetValue("setup", "empty", "d"), "d");
  EXPECT_EQ(e.GetValue("setup", "no equals sign", "d"), "d");
  EXPECT_EQ(e.GetValue("other", "name", "d"), "d");
  EXPECT_EQ(setup->GetValue("", "name", "d"), "first") << "empty child name: the element itself";
}

TEST(TypedValues, SetValueReplacesAppendsDeletesAndCreates) {
  TkoXmlElement e("dev", "");
  e.SetValue("setup", "gone", "");
  TkoXmlElement* setup = e.FindChild("setup", false);
  ASSERT_NE(setup, nullptr);
  EXPECT_EQ(setup->Content(), (std::vector<std::string>{"gone="}))
      << "a new child keeps key and = alone";

  setup->SetContentText("a=1\r\nA=2\r\ngone=x");
  int changes = 0;
  setup->OnChangeContent = [&](TkoXmlElement*, TkoXmlElement*) { ++changes; };
  e.SetValue("setup", "a", "9");
  e.SetInteger("setup", "n", -5);
  e.SetBool("setup", "on", true);
  e.SetValue("setup", "gone", "");
  e.SetValue("setup", "absent", "");
  EXPECT_EQ(setup->Content(), (std::vector<std::string>{"a=9", "A=2", "n=-5", "on=true"}));
  EXPECT_EQ(changes, 4);
  EXPECT_EQ(e.GetInteger("setup", "n", 0), -5);
  EXPECT_TRUE(e.GetBool("setup", "on", false));
  EXPECT_EQ(e.CountChildren("setup", false), 1);
}

TEST(TypedValues, IsEmpty) {
  TkoXmlElement e("e", "");
  EXPECT_TRUE(e.IsEmpty());
  e.AddContentLine("");
  EXPECT_FALSE(e.IsEmpty());
  e.ClearContent();
  e.AddChild(new TkoXmlElement("c", ""));
  EXPECT_FALSE(e.IsEmpty());
}

}  // namespace
