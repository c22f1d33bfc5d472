// VS_VERSIONINFO as windres lays it out: every node is wLength, wValueLength, wType, a UTF-16 key
// with its NUL, padding to a DWORD, the value, then the children, each starting on a DWORD. A
// node's wLength covers its last child but not the padding after it. String values count their
// characters including the terminating NUL; binary values count bytes.
#include <algorithm>
#include <string_view>

#include "byte_order.h"
#include "resource_encoders.h"
#include "text_codec.h"

namespace corvane::builder {
namespace {

constexpr uint16_t kBinary = 0;
constexpr uint16_t kText = 1;
constexpr uint32_t kFixedSignature = 0xFEEF04BD;
constexpr size_t kFixedInfoSize = 52;
constexpr size_t kNodeHeaderSize = 6;

// The string values, in the order they are written.
struct StringField {
  const char16_t* key;
  std::string VersionInfo::*text;
};
constexpr StringField kStringFields[] = {
    {u"CompanyName", &VersionInfo::companyName},
    {u"FileDescription", &VersionInfo::fileDescription},
    {u"FileVersion", &VersionInfo::fileVersionText},
    {u"InternalName", &VersionInfo::internalName},
    {u"LegalCopyright", &VersionInfo::legalCopyright},
    {u"OriginalFilename", &VersionInfo::originalFilename},
    {u"ProductName", &VersionInfo::productName},
    {u"ProductVersion", &VersionInfo::productVersionText},
};

std::string Narrow(const char16_t* key) {
  std::string s;
  for (; *key; ++key) s.push_back(static_cast<char>(*key));  // keys are ASCII
  return s;
}

// --- Writing ---

class NodeWriter {
 public:
  // Starts a node at the next DWORD and answers where it starts, for End.
  size_t Begin(std::u16string_view key, uint16_t valueLength, uint16_t type) {
    Align();
    const size_t start = bytes_.size();
    Put16(0);  // wLength, set by End
    Put16(valueLength);
    Put16(type);
    PutText(key);
    Align();
    return start;
  }
  void End(size_t start) {
    const size_t length = bytes_.size() - start;
    // Callers check the total size first, so every node fits its 16-bit length.
    bytes_[start] = static_cast<uint8_t>(length & 0xFF);
    bytes_[start + 1] = static_cast<uint8_t>(length >> 8);
  }
  void Put16(uint16_t v) {
    bytes_.push_back(static_cast<uint8_t>(v & 0xFF));
    bytes_.push_back(static_cast<uint8_t>(v >> 8));
  }
  void Put32(uint32_t v) {
    Put16(static_cast<uint16_t>(v & 0xFFFF));
    Put16(static_cast<uint16_t>(v >> 16));
  }
  void PutText(std::u16string_view text) {  // with its NUL
    for (char16_t c : text) Put16(static_cast<uint16_t>(c));
    Put16(0);
  }
  void Align() {
    while (bytes_.size() % 4 != 0) bytes_.push_back(0);
  }
  Bytes Take() { return std::move(bytes_); }

 private:
  Bytes bytes_;
};

size_t Align4(size_t n) { return (n + 3) & ~size_t{3}; }
// Bytes of a node with this key before its value, padding included.
size_t NodeHead(std::u16string_view key) { return Align4(kNodeHeaderSize + 2 * (key.size() + 1)); }

uint32_t Pack(uint16_t high, uint16_t low) { return (uint32_t{high} << 16) | low; }

std::u16string TableName(uint16_t language, uint16_t codePage) {
  static const char16_t kHex[] = u"0123456789ABCDEF";
  std::u16string name;
  for (uint16_t v : {language, codePage}) {
    for (int shift = 12; shift >= 0; shift -= 4) name.push_back(kHex[(v >> shift) & 0xF]);
  }
  return name;
}

// --- Reading ---

struct Node {
  std::u16string key;
  uint16_t valueLength = 0;
  uint16_t type = 0;
  size_t valueStart = 0;  // absolute offsets into the data
  size_t end = 0;         // start + wLength
};


// Reads the node at `start`, which must lie wholly before `limit`.
Error ReadNode(std::span<const uint8_t> d, size_t start, size_t limit, Node& node) {
  if (limit - start < kNodeHeaderSize) return "a version information node is cut short";
  const uint16_t length = Le16(d, start);
  if (length < kNodeHeaderSize || length > limit - start) {
    return "a version information node has length " + std::to_string(length) +
           ", which does not fit the data around it";
  }
  node = Node{};
  node.valueLength = Le16(d, start + 2);
  node.type = Le16(d, start + 4);
  node.end = start + length;
  size_t at = start + kNodeHeaderSize;
  for (;;) {
    if (node.end - at < 2) return "a version information key runs past its node";
    const char16_t c = static_cast<char16_t>(Le16(d, at));
    at += 2;
    if (c == 0) break;
    node.key.push_back(c);
  }
  node.valueStart = std::min(Align4(at), node.end);
  return std::nullopt;
}

// Where the children of a node start: after its value. Text values are counted in characters.
size_t ChildrenStart(const Node& node) {
  const size_t valueBytes = node.type == kText ? 2 * size_t{node.valueLength} : node.valueLength;
  if (valueBytes > node.end - node.valueStart) return node.end;
  return std::min(Align4(node.valueStart + valueBytes), node.end);
}

// Calls visit(child) for each child of `node`; stops at the first error.
template <typename Visit>
Error ForEachChild(std::span<const uint8_t> d, const Node& node, Visit visit) {
  size_t at = ChildrenStart(node);
  while (at < node.end && node.end - at >= kNodeHeaderSize) {
    Node child;
    if (Error e = ReadNode(d, at, node.end, child)) return e;
    if (Error e = visit(child)) return e;
    at = Align4(child.end);  // wLength is at least the header, so this always moves on
  }
  return std::nullopt;
}

// A string value: its characters up to the first NUL or the end of its node, whichever comes first
// (tools disagree on whether wValueLength counts characters or bytes, so it is not relied on).
std::u16string ReadText(std::span<const uint8_t> d, const Node& node) {
  std::u16string text;
  for (size_t at = node.valueStart; node.end - at >= 2; at += 2) {
    const char16_t c = static_cast<char16_t>(Le16(d, at));
    if (c == 0) break;
    text.push_back(c);
  }
  return text;
}

bool ParseHex16(std::u16string_view text, uint16_t& out) {
  uint16_t v = 0;
  for (char16_t c : text) {
    int digit;
    if (c >= u'0' && c <= u'9') digit = c - u'0';
    else if (c >= u'A' && c <= u'F') digit = c - u'A' + 10;
    else if (c >= u'a' && c <= u'f') digit = c - u'a' + 10;
    else return false;
    v = static_cast<uint16_t>((v << 4) | digit);
  }
  out = v;
  return true;
}

}  // namespace

Error ParseVersionNumber(const std::string& text, std::array<uint16_t, 4>& out) {
  const std::string quoted = "version number \"" + text + "\"";
  if (text.empty()) return "the version number is empty";
  std::array<uint16_t, 4> parts{};
  size_t count = 0;
  size_t at = 0;
  for (;;) {
    if (count == parts.size()) return quoted + " has more than four parts";
    const size_t begin = at;
    uint32_t value = 0;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
      value = value * 10 + static_cast<uint32_t>(text[at] - '0');
      if (value > 65535) return quoted + " has a part larger than 65535";
      ++at;
    }
    if (at == begin) {
      return quoted + " is not of the form 1.2.3.4 (up to four numbers separated by dots)";
    }
    parts[count++] = static_cast<uint16_t>(value);
    if (at == text.size()) break;
    if (text[at] != '.') {
      return quoted + " is not of the form 1.2.3.4 (up to four numbers separated by dots)";
    }
    ++at;
  }
  out = parts;
  return std::nullopt;
}

Error EncodeVersionInfo(const VersionInfo& info, Bytes& out) {
  struct Value {
    const char16_t* key;
    std::u16string text;
  };
  std::vector<Value> values;
  // The size is worked out before writing: every length in the format is 16 bits.
  size_t tableSize = NodeHead(TableName(info.language, info.codePage));
  for (const StringField& field : kStringFields) {
    const std::string& text = info.*field.text;
    if (text.empty()) continue;
    Value value{field.key, {}};
    const auto units = Utf8ToUtf16(text);
    if (!units) return "the text of " + Narrow(field.key) + " is not valid UTF-8";
    value.text = *units;
    if (value.text.find(u'\0') != std::u16string::npos) {
      return "the text of " + Narrow(field.key) + " contains a NUL character";
    }
    tableSize = Align4(tableSize) + NodeHead(field.key) + 2 * (value.text.size() + 1);
    values.push_back(std::move(value));
  }
  const size_t total = NodeHead(u"VS_VERSION_INFO") + kFixedInfoSize +
                       Align4(NodeHead(u"StringFileInfo") + tableSize) + NodeHead(u"VarFileInfo") +
                       NodeHead(u"Translation") + 4;
  if (total > 0xFFFF) {
    return "the version texts are too long: together they take " + std::to_string(total) +
           " bytes, and version information holds at most 65535";
  }

  NodeWriter w;
  const size_t root = w.Begin(u"VS_VERSION_INFO", kFixedInfoSize, kBinary);
  w.Put32(kFixedSignature);
  w.Put32(0x00010000);  // structure version 1.0
  w.Put32(Pack(info.fileVersion[0], info.fileVersion[1]));
  w.Put32(Pack(info.fileVersion[2], info.fileVersion[3]));
  w.Put32(Pack(info.productVersion[0], info.productVersion[1]));
  w.Put32(Pack(info.productVersion[2], info.productVersion[3]));
  w.Put32(0x3F);     // flags mask: every VS_FF_* flag
  w.Put32(0);        // flags
  w.Put32(0x40004);  // VOS_NT_WINDOWS32
  w.Put32(1);        // VFT_APP
  w.Put32(0);        // subtype
  w.Put32(0);        // date, high and low
  w.Put32(0);

  const size_t fileInfo = w.Begin(u"StringFileInfo", 0, kText);
  const size_t table = w.Begin(TableName(info.language, info.codePage), 0, kText);
  for (const Value& value : values) {
    const size_t node =
        w.Begin(value.key, static_cast<uint16_t>(value.text.size() + 1), kText);
    w.PutText(value.text);
    w.End(node);
  }
  w.End(table);
  w.End(fileInfo);

  const size_t varInfo = w.Begin(u"VarFileInfo", 0, kText);
  const size_t translation = w.Begin(u"Translation", 4, kBinary);
  w.Put16(info.language);
  w.Put16(info.codePage);
  w.End(translation);
  w.End(varInfo);
  w.End(root);
  out = w.Take();
  return std::nullopt;
}

Error DecodeVersionInfo(std::span<const uint8_t> data, VersionInfo& out) {
  Node root;
  if (Error e = ReadNode(data, 0, data.size(), root)) return e;
  if (root.key != u"VS_VERSION_INFO") return "the data is not version information";
  if (root.valueLength < kFixedInfoSize || root.end - root.valueStart < kFixedInfoSize ||
      Le32(data, root.valueStart) != kFixedSignature) {
    return "the version information has no fixed file information";
  }
  VersionInfo info;
  // The member defaults are only a guess for data that names no language.
  const size_t f = root.valueStart;
  const uint32_t fileMs = Le32(data, f + 8), fileLs = Le32(data, f + 12);
  const uint32_t productMs = Le32(data, f + 16), productLs = Le32(data, f + 20);
  info.fileVersion = {static_cast<uint16_t>(fileMs >> 16), static_cast<uint16_t>(fileMs),
                      static_cast<uint16_t>(fileLs >> 16), static_cast<uint16_t>(fileLs)};
  info.productVersion = {static_cast<uint16_t>(productMs >> 16), static_cast<uint16_t>(productMs),
                         static_cast<uint16_t>(productLs >> 16),
                         static_cast<uint16_t>(productLs)};

  bool haveTable = false;
  bool haveTranslation = false;
  uint16_t translationLanguage = info.language, translationCodePage = info.codePage;
  Error e = ForEachChild(data, root, [&](const Node& block) -> Error {
    if (block.key == u"StringFileInfo") {
      return ForEachChild(data, block, [&](const Node& table) -> Error {
        if (haveTable) return std::nullopt;  // only the first table is read
        haveTable = true;
        if (table.key.size() == 8) {
          uint16_t language, codePage;
          if (ParseHex16(std::u16string_view(table.key).substr(0, 4), language) &&
              ParseHex16(std::u16string_view(table.key).substr(4, 4), codePage)) {
            info.language = language;
            info.codePage = codePage;
          }
        }
        return ForEachChild(data, table, [&](const Node& value) -> Error {
          for (const StringField& field : kStringFields) {
            if (value.key == field.key) info.*field.text = Utf16ToUtf8(ReadText(data, value));
          }
          return std::nullopt;
        });
      });
    }
    if (block.key == u"VarFileInfo") {
      return ForEachChild(data, block, [&](const Node& var) -> Error {
        if (var.key == u"Translation" && !haveTranslation && var.end - var.valueStart >= 4) {
          haveTranslation = true;
          translationLanguage = Le16(data, var.valueStart);
          translationCodePage = Le16(data, var.valueStart + 2);
        }
        return std::nullopt;
      });
    }
    return std::nullopt;
  });
  if (e) return e;
  if (!haveTable && haveTranslation) {
    info.language = translationLanguage;
    info.codePage = translationCodePage;
  }
  out = std::move(info);
  return std::nullopt;
}

}  // namespace corvane::builder
