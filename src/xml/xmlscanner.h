#pragma once
// TXmlParser: a tolerant pull scanner over an XML document held whole in memory.
//
// Each Scan() advances to the next part of the document and leaves its kind, name, text
// and attributes in the scanner. Nothing is ever rejected: an unterminated construct runs
// to the end of the text. The document type declaration is analysed so that declared
// default attributes are added and declared entities are replaced. Text of a UTF-8
// document is translated to 8-bit Windows-1252, and so are character references: "&#233;"
// and "&#8364;" are the bytes of "e acute" and the euro sign, a character the code page
// lacks is kReplacementChar. An "&" that starts no reference ("a & b") is kept as text.
//
// Hostile input is bounded: entity texts nest at most kMaxEntityDepth deep and one pass
// over a document reads at most kMaxEntityExpansion bytes out of entity texts; a
// reference beyond either limit is left unexpanded and LimitHit() becomes true.
// Files (the document and external entities) must be regular files of at most
// kMaxFileSize bytes.
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// Kind of a scanned part; the order is part of the interface.
enum TPartType {
  ptNone,
  ptXmlProlog,
  ptComment,
  ptPI,
  ptDtdc,
  ptStartTag,
  ptEmptyTag,
  ptEndTag,
  ptContent,
  ptCData
};

// A set of part kinds, as callers ask for "the next start tag or end tag".
class TPartTypes {
 public:
  constexpr TPartTypes() = default;
  constexpr TPartTypes(std::initializer_list<TPartType> kinds) {
    for (TPartType k : kinds) bits_ |= 1u << k;
  }
  constexpr bool Has(TPartType k) const { return (bits_ >> k) & 1u; }

 private:
  unsigned bits_ = 0;
};

enum TValueType { vtNormal, vtImplied, vtFixed, vtDefault };
enum TAttrType {
  atUnknown,
  atCData,
  atID,
  atIdRef,
  atIdRefs,
  atEntity,
  atEntities,
  atNmToken,
  atNmTokens,
  atNotation,
  atEnumeration
};
enum TAttrDefault { adDefault, adRequired, adImplied, adFixed };
enum TElemType { etEmpty, etAny, etChildren, etMixed };
enum TDtdElemType { deElement, deAttList, deEntity, deNotation, dePI, deComment, deError };

// A name and a value.
class TNvpNode {
 public:
  TNvpNode() = default;
  TNvpNode(std::string name, std::string value) : Name(std::move(name)), Value(std::move(value)) {}
  virtual ~TNvpNode() = default;

  std::string Name;
  std::string Value;
};

// Owning list of nodes kept sorted by name in byte order (case-sensitive).
class TNvpList {
 public:
  TNvpList() = default;
  TNvpList(const TNvpList&) = delete;
  TNvpList& operator=(const TNvpList&) = delete;
  virtual ~TNvpList() = default;

  // Inserts in front of any nodes of the same name. A null node is ignored.
  void Add(std::unique_ptr<TNvpNode> node);
  // First node of that exact name, or null.
  TNvpNode* Node(std::string_view name) const;
  // Node at an index, or null when the index is out of range.
  TNvpNode* Node(int index) const;
  const std::string& Name(int index) const;               // empty when out of range
  const std::string& Value(int index) const;              // empty when out of range
  const std::string& Value(std::string_view name) const;  // empty when missing
  int Count() const { return static_cast<int>(nodes_.size()); }
  void Clear() { nodes_.clear(); }
  // Removes the node at an index and hands it to the caller (null when out of range).
  std::unique_ptr<TNvpNode> Extract(int index);
  // Removes every node of that name; true when one was there.
  bool Remove(std::string_view name);
  // Moves every node of another list into this one.
  void TakeAll(TNvpList& from);

 private:
  std::size_t LowerBound(std::string_view name) const;
  std::vector<std::unique_ptr<TNvpNode>> nodes_;
};

// An attribute of a tag; both types stay 0 for an attribute without a declaration.
class TAttr : public TNvpNode {
 public:
  using TNvpNode::TNvpNode;
  TValueType ValueType = vtNormal;
  TAttrType AttrType = atUnknown;
};

// The attributes of a tag, declaration or processing instruction.
class TAttrList : public TNvpList {
 public:
  TAttr* Attr(int index) const { return static_cast<TAttr*>(Node(index)); }
  TAttr* Attr(std::string_view name) const { return static_cast<TAttr*>(Node(name)); }
  // Empties the list and reads name="value" pairs from text. Stops at ">", at the end of
  // the text, or at a character that cannot start a name where one is expected; returns
  // the position where it stopped. Values are kept raw (no reference replacement).
  const char* Analyze(const char* text);
};

// A declared attribute: name and default value (document text, still in the document's
// encoding), plus its declared type.
class TAttrDef : public TNvpNode {
 public:
  using TNvpNode::TNvpNode;
  std::string TypeDef;    // "CDATA", "ID", ..., the enumeration text or "NOTATION"
  std::string Notations;  // the list of a NOTATION type, white space removed
  TAttrType AttrType = atUnknown;
  TAttrDefault DefaultType = adDefault;
};

// A declared element with its attribute definitions (the list holds TAttrDef nodes).
class TElemDef : public TNvpList {
 public:
  TAttrDef* AttrDef(int index) const { return static_cast<TAttrDef*>(Node(index)); }
  TAttrDef* AttrDef(std::string_view name) const { return static_cast<TAttrDef*>(Node(name)); }

  std::string Name;
  std::string Definition;  // content model, white space removed
  TElemType ElemType = etAny;
};

// Declared elements sorted by name. Adding a name that exists replaces the old declaration.
class TElemList {
 public:
  TElemDef* Node(std::string_view name) const;
  TElemDef* Add(std::unique_ptr<TElemDef> def);
  int Count() const { return static_cast<int>(defs_.size()); }
  void Clear() { defs_.clear(); }

 private:
  std::vector<std::unique_ptr<TElemDef>> defs_;
};

// A general or parameter entity: name and replacement text (empty for an external one),
// kept in the document's encoding as it is read like document text.
class TEntityDef : public TNvpNode {
 public:
  using TNvpNode::TNvpNode;
  bool IsExternal() const { return !SystemId.empty() || !PublicId.empty(); }
  std::string SystemId;
  std::string PublicId;
  std::string NotationName;
};

// A notation: name and system identifier.
class TNotationDef : public TNvpNode {
 public:
  using TNvpNode::TNvpNode;
  std::string PublicId;
};

class TXmlParser;

// Entity texts being read by the scanner. Each entry owns the text it stands for (and the
// scanner of an external entity), so definitions may change while an entity is open.
class TEntityStack {
 public:
  // Starts reading text; returnTo is where reading goes on when it ends.
  const char* Push(std::string text, const std::string& encoding, const char* returnTo);
  const char* Push(std::unique_ptr<TXmlParser> external, const std::string& encoding,
                   const char* returnTo);
  // Leaves the top entity; returns the position to go on at (null when empty) and
  // gives back the encoding that was in force before it.
  const char* Pop(std::string* encoding);
  int Count() const { return static_cast<int>(entries_.size()); }
  void Clear() {
    entries_.clear();
    retired_.clear();
  }
  // Frees the texts of popped entries; until then, positions in them stay readable.
  void ReleaseRetired() { retired_.clear(); }

 private:
  struct Entry {
    std::string text;
    std::unique_ptr<TXmlParser> external;
    std::string encoding;
    const char* returnTo = nullptr;
  };
  std::vector<std::unique_ptr<Entry>> entries_;
  std::vector<std::unique_ptr<Entry>> retired_;
};

// What DtdElementFound receives. Start and End bound the declaration's text; the object
// pointers are valid during the call only and null for other kinds.
struct TDtdElementRec {
  TDtdElemType ElementType = deError;
  const char* Start = nullptr;
  const char* End = nullptr;
  const TElemDef* ElemDef = nullptr;          // deElement, deAttList
  const TAttrDef* AttrDef = nullptr;          // deAttList: the last attribute read
  const TEntityDef* EntityDef = nullptr;      // deEntity
  const TNotationDef* NotationDef = nullptr;  // deNotation
  std::string Target;                         // dePI
  std::string Content;                        // dePI
  const TAttrList* AttrList = nullptr;        // dePI
};

class TXmlParser {
 public:
  static constexpr int kMaxEntityDepth = 32;
  static constexpr std::size_t kMaxEntityExpansion = 1u << 20;
  static constexpr std::size_t kMaxFileSize = 64u << 20;

  TXmlParser();
  virtual ~TXmlParser();
  TXmlParser(const TXmlParser&) = delete;
  TXmlParser& operator=(const TXmlParser&) = delete;

  // Forgets the document and every definition. CurrentEncoding is kept: a document
  // without an XML declaration is read with the encoding of the previous one.
  void Clear();
  // Reads a whole file (a zero byte inside ends the document). False, with nothing
  // loaded, when the file cannot be opened or read, is not a regular file or is larger
  // than kMaxFileSize.
  bool LoadFromFile(const std::string& fileName);
  // Copies a zero-terminated text. Source becomes "<MEM>".
  bool LoadFromBuffer(const char* text);
  // Reads the caller's zero-terminated text in place; it must outlive the scan.
  // Source becomes "<REFERENCE>".
  void SetBuffer(const char* text);
  const char* GetDocBuffer() const;  // "" when there is no document

  void StartScan();
  // Advances to the next part; false at the end of the document.
  bool Scan();

  // Loads an external entity or subset. The base reads the file named by the system
  // identifier, relative to the document's folder when the document came from a file;
  // a file that cannot be read gives a scanner with an empty text.
  virtual std::unique_ptr<TXmlParser> LoadExternalEntity(const std::string& systemId,
                                                         const std::string& publicId,
                                                         const std::string& notation);
  // Translates document text into Windows-1252; the base converts UTF-8 documents.
  virtual std::string TranslateEncoding(std::string_view text);
  // Called for every declaration, instruction, comment and unrecognised markup of the
  // document type declaration. The base does nothing.
  virtual void DtdElementFound(const TDtdElementRec& rec);

  static std::string AnsiToUtf8(std::string_view text);
  // What stands for a character the code page has none for (an inverted question mark).
  static constexpr char kReplacementChar = '\xBF';
  // Invalid or unmappable input becomes the replacement character.
  static std::string Utf8ToAnsi(std::string_view text, char replacement = kReplacementChar);
  static std::string TrimWs(std::string_view text);
  static std::string ConvertWs(std::string_view text, bool fold);

  const std::string& Source() const { return source_; }
  const std::string& XmlVersion() const { return xmlVersion_; }
  const std::string& Encoding() const { return encoding_; }
  bool Standalone() const { return standalone_; }
  const std::string& RootElementName() const { return rootElementName_; }
  bool Normalize() const { return normalize_; }
  void SetNormalize(bool on) { normalize_ = on; }
  const std::string& CurrentEncoding() const { return currentEncoding_; }
  void SetCurrentEncoding(std::string encoding);

  const TElemList& ElementDefs() const { return elementDefs_; }
  const TNvpList& EntityDefs() const { return entityDefs_; }
  const TNvpList& ParamEntityDefs() const { return paramEntityDefs_; }
  const TNvpList& NotationDefs() const { return notationDefs_; }
  const TEntityStack& OpenEntities() const { return openEntities_; }

  TPartType PartKind() const { return partKind_; }
  const std::string& PartName() const { return partName_; }
  const std::string& PartText() const { return partText_; }
  // Start of the current part and the position just after it, in the text being read
  // (the document or an entity text); valid until the next Scan.
  const char* PartStart() const { return partStart_; }
  const char* PartEnd() const { return partEnd_; }
  TAttrList& PartAttributes() { return partAttributes_; }
  const TAttrList& PartAttributes() const { return partAttributes_; }

  // True when the last pass left a reference unexpanded because of an entity limit.
  bool LimitHit() const { return limitHit_; }
  // Bytes of entity text one pass may read (kMaxEntityExpansion unless changed; kept
  // across loads).
  std::size_t EntityExpansionLimit() const { return expansionLimit_; }
  void SetEntityExpansionLimit(std::size_t bytes) { expansionLimit_ = bytes; }

 private:
  class Dtd;
  friend class Dtd;

  const char* ScanTag(const char* p);
  const char* ScanContent(const char* p);
  const char* ScanCData(const char* p);
  const char* ScanComment(const char* p);
  const char* ScanPI(const char* p);
  const char* ScanXmlDecl(const char* p);
  const char* ScanDtd(const char* p);
  void CompleteAttributes();
  std::string ProcessAttrValue(std::string_view raw);
  // Replaces entity and character references of a text in one pass, so that an escaped
  // ampersand is never read as the start of another reference.
  void ReplaceReferences(std::string_view text, std::string& out, int depth);
  std::string EntityText(std::string_view text);
  bool TakeBudget(std::size_t n, int depth);

  std::string ownBuffer_;
  const char* buffer_ = nullptr;
  std::string source_;
  std::string xmlVersion_;
  std::string encoding_;
  bool standalone_ = false;
  std::string rootElementName_;
  const char* dtdStart_ = nullptr;
  const char* dtdEnd_ = nullptr;
  bool normalize_ = true;
  TEntityStack openEntities_;
  std::string currentEncoding_;
  TElemList elementDefs_;
  TNvpList entityDefs_;
  TNvpList paramEntityDefs_;
  TNvpList notationDefs_;
  TPartType partKind_ = ptNone;
  std::string partName_;
  std::string partText_;
  const char* partStart_ = nullptr;
  const char* partEnd_ = nullptr;
  TAttrList partAttributes_;

  const char* next_ = nullptr;  // where the next part starts; null before the first
  std::size_t expansion_ = 0;   // bytes read out of entity texts in this pass
  std::size_t expansionLimit_ = kMaxEntityExpansion;
  bool limitHit_ = false;
  std::string mask_;  // scratch: marks characters of a text part that came from references
  std::string scratch_;
};
