#pragma once
// TkoXmlParser: the component that owns one element tree (its root), raises events when
// the tree changes anywhere, writes the tree as an XML document and reads one back.
//
// An element's content lines are written one a line, each ended by an empty "br" tag
// ("<br/>"), the last one only when it is empty; reading ends a line at each "br", so that
// empty lines survive the round trip. An element named "br" without content is written
// "<br></br>", which reads back as that element, not as a break.
//
// Derived components replace AllocXmlElement to turn tags of their own into objects of
// derived element classes while a document is read.
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "xml/koxmlelement.h"
#include "xml/xmlscanner.h"

class TkoXmlParser {
 public:
  // (this parser, the element that was added, deleted, changed or loaded)
  using TNotifyEvent = std::function<void(TkoXmlParser* sender, TkoXmlElement* child)>;

  // Reading gives up nesting below this many levels of elements: deeper elements are
  // skipped with their inside and ReadIncomplete() reports it.
  static constexpr int kMaxReadDepth = 256;

  TkoXmlParser();
  virtual ~TkoXmlParser();  // ResetAll, then the scanner goes
  TkoXmlParser(const TkoXmlParser&) = delete;
  TkoXmlParser& operator=(const TkoXmlParser&) = delete;

  const std::string& Name() const { return name_; }
  void SetName(std::string name) { name_ = std::move(name); }
  std::intptr_t Tag() const { return tag_; }
  void SetTag(std::intptr_t tag) { tag_ = tag; }

  TkoXmlElement* Root() const { return root_; }
  // The scanner used while reading; AllocXmlElement overrides read the current tag's
  // name from its PartName().
  TXmlParser& Scanner() { return *scanner_; }
  const TXmlParser& Scanner() const { return *scanner_; }

  // Deletes the root and with it the whole tree.
  void ResetAll();
  // Makes a detached element (or one detached from its parent here) the root and takes
  // ownership; nothing happens for null, for another parser's root or when there is a
  // root already.
  void AddRoot(TkoXmlElement* element);
  // The element called name (the root itself when its name matches exactly, otherwise
  // the first found below it) or, with a sub-name that differs from name, that
  // element's direct child called subName.
  TkoXmlElement* SearchSubTree(std::string_view name, std::string_view subName) const;

  // The whole document, UTF-8, lines ended by CR LF; the header carries the local time.
  std::string GetXmlText() const;
  // The same with the given time in the header, for reproducible output.
  std::string GetXmlText(const std::tm& stamp) const;
  // Writes GetXmlText to a temporary file beside the target and renames it; throws
  // EkoException when the file cannot be written.
  void SaveToFile(const std::string& fileName) const;

  // ResetAll, then builds the tree from the file; false (tree empty) when the file
  // cannot be read.
  bool LoadFromFile(const std::string& fileName);
  // ResetAll, then builds the tree from a zero-terminated text.
  bool LoadFromBuffer(const char* text);
  // Builds the tree from the scanner's document, from its start.
  void ExecuteScan();
  // True when the last read skipped parts: elements nested beyond kMaxReadDepth, a
  // second top-level element, or entity references beyond the scanner's limits.
  bool ReadIncomplete() const { return readIncomplete_; }

  // Element factory of the reader, called for every start tag; parent is null for a
  // top-level tag. The base makes a plain TkoXmlElement. Returning null skips the tag
  // with its inside.
  virtual TkoXmlElement* AllocXmlElement(TkoXmlElement* parent);

  virtual void PerformOnAddChild(TkoXmlElement* child);
  virtual void PerformOnDelChild(TkoXmlElement* child);
  virtual void PerformOnChangeContent(TkoXmlElement* child);
  virtual void PerformOnContentAnalyzed(TkoXmlElement* child);

  TNotifyEvent OnAddChild;
  TNotifyEvent OnDelChild;
  TNotifyEvent OnChangeContent;
  TNotifyEvent OnContentAnalyzed;

  // The maker's address in the header of every written document.
  static constexpr const char* kMakerWeb = "http://www.orvadi.example";

 protected:
  // Lets the scanner advance until the current part is one of kinds; false at the end.
  bool LookForPartType(TPartTypes kinds);
  // Makes the element of the current start tag (through AllocXmlElement) and attaches
  // it; null when the factory refused the tag.
  TkoXmlElement* AllocElement(TkoXmlElement* parent);
  // Reads the inside of parent (or the top level) up to its end tag.
  void ScanForNextTag(TkoXmlElement* parent, int depth);

 private:
  void SkipElement(const std::string& name);
  void CloseElement(TkoXmlElement* element);
  // Reads an element that AllocElement made, then drops it when it did not join the
  // tree (a second top-level element).
  void ReadElement(TkoXmlElement* element, TkoXmlElement* parent, int depth, bool empty);

  std::unique_ptr<TXmlParser> scanner_;
  TkoXmlElement* root_ = nullptr;
  std::string name_;
  std::intptr_t tag_ = 0;
  bool readIncomplete_ = false;
};
