#pragma once
// TkoXmlElement: a node of the element tree that every persistent engine object derives
// from. An object keeps its settings as Key=Value lines in the content of a child
// element (by convention "setup"), through the typed Get/Set operations below.
//
// Ownership is by chaining: an element owns its first child and its next sibling, so
// deleting an element deletes every sibling that follows it and its whole subtree. To
// delete one element out of the middle of a list, Detach it first.
//
// Notifications bubble: a change at an element calls its own slot, then its parent's,
// and so on up to the top element; when that one belongs to a parser, the parser's
// event of the same kind is raised last. During deletion the slots see the element
// after its derived part is gone: handlers must not cast it to a derived class.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "xml/xmlscanner.h"

class TkoXmlParser;

class TkoXmlElement {
 public:
  // (the element whose slot fires, the element that was added, deleted or changed)
  using TNotifyEvent = std::function<void(TkoXmlElement* sender, TkoXmlElement* child)>;

  TkoXmlElement();
  // The content text is split into lines at CR, LF or CR LF.
  TkoXmlElement(std::string name, std::string_view content);
  // Deletes the following siblings, then the subtree, then detaches itself.
  virtual ~TkoXmlElement();
  TkoXmlElement(const TkoXmlElement&) = delete;
  TkoXmlElement& operator=(const TkoXmlElement&) = delete;

  // Load hook: called when the element has been read completely from a document.
  virtual void AnalyzeContent() {}

  TkoXmlParser* Parser() const { return parser_; }
  TkoXmlElement* Parent() const { return parent_; }
  TkoXmlElement* Child() const { return child_; }
  TkoXmlElement* Next() const { return next_; }

  const std::string& Name() const { return name_; }
  void SetName(std::string name) { name_ = std::move(name); }

  // Attributes, kept sorted by name in byte order. Changing them raises nothing.
  TNvpList& Attributes() { return attributes_; }
  const TNvpList& Attributes() const { return attributes_; }
  const std::string& GetAttribute(std::string_view name) const { return attributes_.Value(name); }
  // Replaces every attribute of that name by one with the value.
  void SetAttribute(const std::string& name, std::string value);

  // Content lines. Every modification raises one change-content notification.
  const std::vector<std::string>& Content() const { return content_; }
  std::string ContentText() const;  // every line followed by CR LF
  void SetContentText(std::string_view text);
  void AddContentLine(std::string line);
  void SetContentLine(std::size_t index, std::string line);  // ignored when out of range
  void DeleteContentLine(std::size_t index);                 // ignored when out of range
  void ClearContent();
  // Adds text read from a document: with newLine as a new last line, otherwise joined
  // to the last line by a blank (the first text of an empty content is its first line).
  void AddContent(std::string_view text, bool newLine);

  // Appends an element, with anything chained behind it, as last child and takes
  // ownership. An element attached elsewhere is detached first. Null, this element, one
  // of its ancestors and a parser's root are ignored.
  void AddChild(TkoXmlElement* element);
  // Unlinks this element from its parent without deleting it; the caller owns it then.
  // Returns this element, or null when it has no parent (a root stays the root).
  TkoXmlElement* Detach();

  // Names compare case-insensitively. With recursive, a direct child always wins over a
  // deeper match; deeper matches are searched child by child in order.
  TkoXmlElement* FindChild(std::string_view name, bool recursive) const;
  // The same search over the siblings that follow this element (and, with recursive,
  // their subtrees; never this element's own).
  TkoXmlElement* FindNext(std::string_view name, bool recursive) const;
  // Children of that name (every child for an empty name); recursive adds the counts of
  // every child's subtree.
  int CountChildren(std::string_view name, bool recursive) const;

  // Typed access to Key=Value lines of the direct child childName (this element itself
  // when childName is empty). Keys compare case-insensitively; an empty value counts as
  // missing and gives the default.
  std::string GetValue(std::string_view childName, std::string_view key,
                       const std::string& defaultValue) const;
  // Decimal, "0x" hexadecimal prefix or "h" hexadecimal suffix (lower case only);
  // reading stops at the first character that does not fit, and text without a number
  // gives the default. Hexadecimal up to 0xFFFFFFFF is read as a 32-bit pattern;
  // anything beyond the 32-bit range is clamped.
  std::int32_t GetInteger(std::string_view childName, std::string_view key,
                          std::int32_t defaultValue) const;
  // "true"/"false" in any letter case, otherwise a number that is non-zero.
  bool GetBool(std::string_view childName, std::string_view key, bool defaultValue) const;
  // Sets the key's line (an empty value deletes it). A missing child is created with the
  // single line "key=value" (also for an empty value) and appended.
  void SetValue(std::string_view childName, std::string_view key, const std::string& value);
  void SetInteger(std::string_view childName, std::string_view key, std::int32_t value);
  void SetBool(std::string_view childName, std::string_view key, bool value);

  // No content line and no child.
  bool IsEmpty() const { return content_.empty() && !child_; }

  TNotifyEvent OnAddChild;
  TNotifyEvent OnDelChild;
  TNotifyEvent OnChangeContent;
  TNotifyEvent OnContentAnalyzed;

 private:
  friend class TkoXmlParser;
  enum class Kind { AddChild, DelChild, ChangeContent, ContentAnalyzed };

  // Raises a notification for affected, starting at this element.
  void Notify(Kind kind, TkoXmlElement* affected);
  // Sets the parser on this element, its subtree and every sibling that follows it.
  void SetParser(TkoXmlParser* parser);
  // Removes child from this element's children; null when it is not one of them.
  TkoXmlElement* RemoveChild(TkoXmlElement* child);
  // Raises the delete notification for an element already unlinked from this parent.
  void FinishRemoval(TkoXmlElement* child);
  // Deletes every sibling after this element.
  void DeleteFollowing();
  const TkoXmlElement* Target(std::string_view childName) const;
  // Index of the first line whose text before its first "=" is the key, or -1.
  int FindKey(std::string_view key) const;

  TkoXmlParser* parser_ = nullptr;
  TkoXmlElement* parent_ = nullptr;
  TkoXmlElement* child_ = nullptr;
  TkoXmlElement* next_ = nullptr;
  TkoXmlElement* prev_ = nullptr;       // previous sibling, so unlinking is O(1)
  TkoXmlElement* lastChild_ = nullptr;  // end of the child list, so appending is O(1)
  bool isRoot_ = false;                 // owned by a parser as its root
  std::string name_;
  TNvpList attributes_;
  std::vector<std::string> content_;
};

namespace vx {
// ASCII case-insensitive comparison, as element names and keys are compared.
bool SameTextAscii(std::string_view a, std::string_view b);
}  // namespace vx
