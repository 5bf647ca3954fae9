// twin_generator: writes the declarations of the twin client (twin_client.cpp)
// from the installed headers, so that a function added to them is covered
// without anyone listing it. It runs a C++ front end (clang++, whose
// "-Xclang -ast-dump=json" prints the syntax tree) over the header that includes
// every installed header, reads the declarations that come from those headers,
// and writes two headers:
// - twins_before.h, included before our headers: for every free function of
//   namespace morrowtide (and the namespaces inside it) a "twin" at global scope
//   with the same name, template parameters, parameter types and default
//   arguments, whose body aborts and which returns a tag type of its own; the
//   classes the twins name, forward-declared; and a global class or variable for
//   each class and variable name of morrowtide;
// - twins_after.h, included after them: the twins that name an alias, an enum or
//   a nested type of ours (which cannot be declared before the headers, so a
//   header's call never meets them: they are listed as not covered), then a
//   static_assert for each unqualified call of a twin whose parameters are
//   fundamental, standard or global types only, with its own argument types and
//   with every global class of ours that derives from a class parameter's class.
// Usage: twin_generator FRONT_END ALL_HEADERS OUTPUT_DIR INCLUDE_DIR...
// Reading this first:
// - in the dump a location names its "file" only when it differs from the
//   location printed before it (an "includedFrom" object's "file" aside), so the
//   reader follows every location in order, also in the parts it skips;
// - types are printed with their scope (morrowtide::OwnedSymbolModel), template
//   arguments as written: every name is resolved from the declaration's scope;
// - the dump is large (about 250 MB); only declarations from our headers are
//   kept, without function bodies.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

using Strings = std::vector<std::string>;

[[noreturn]] void fail(const std::string& what) { throw std::runtime_error(what); }

std::string join(const Strings& parts, const std::string& separator) {
  std::string out;
  for (size_t i = 0; i < parts.size(); i++) out += (i == 0 ? "" : separator) + parts[i];
  return out;
}

std::string qualified(const Strings& scope, const std::string& name) {
  return scope.empty() ? name : join(scope, "::") + "::" + name;
}

// Collapses every run of white space to one blank and trims the ends.
std::string squeeze(std::string_view text) {
  std::string out;
  for (const char c : text) {
    const bool blank = c == ' ' || c == '\t' || c == '\n' || c == '\r';
    if (blank) {
      if (!out.empty() && out.back() != ' ') out += ' ';
    } else {
      out += c;
    }
  }
  if (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

// --- the dump

// A JSON value of the dump. Location objects (those with an "offset") get a
// member "$file": the file they lie in, which the dump itself may leave out.
struct Json {
  enum class Kind : uint8_t { kNull, kLiteral, kString, kArray, kObject };
  Kind kind = Kind::kNull;
  std::string text;  // a string's value, a number's or literal's spelling
  std::vector<Json> items;
  std::vector<std::pair<std::string, Json>> members;

  const Json* find(std::string_view key) const {
    for (const auto& member : members) {
      if (member.first == key) return &member.second;
    }
    return nullptr;
  }
  std::string str(std::string_view key) const {
    const Json* value = find(key);
    return value != nullptr && value->kind != Kind::kObject ? value->text : std::string();
  }
  bool isTrue(std::string_view key) const {
    const Json* value = find(key);
    return value != nullptr && value->kind == Kind::kLiteral && value->text == "true";
  }
  const std::vector<Json>& inner() const {
    static const std::vector<Json> none;
    const Json* value = find("inner");
    return value != nullptr ? value->items : none;
  }
  std::string kindName() const { return str("kind"); }
  // The qualType of member `key` ("type" of a declaration).
  std::string typeOf(std::string_view key = "type") const {
    const Json* type = find(key);
    return type != nullptr ? type->str("qualType") : std::string();
  }
};

// Reads the front end's dump from a stream and keeps the top-level declarations
// that lie in one of our headers (a file under one of `prefixes`).
class DumpReader {
 public:
  DumpReader(std::FILE* in, Strings prefixes) : in(in), prefixes(std::move(prefixes)) {}

  std::vector<Json> readOurDeclarations() {
    std::vector<Json> ours;
    skipSpace();
    readMembers([&](const std::string& key) {
      if (key != "inner") return value(nullptr, false);
      readItems([&] {
        Json declaration;
        if (topLevelDeclaration(declaration)) ours.push_back(std::move(declaration));
      });
    });
    return ours;
  }

 private:
  int peek() {
    if (pos == end) {
      end = std::fread(buffer.data(), 1, buffer.size(), in);
      pos = 0;
      if (end == 0) return EOF;
    }
    return static_cast<unsigned char>(buffer[pos]);
  }
  int get() {
    const int c = peek();
    if (c != EOF) pos++;
    return c;
  }
  void skipSpace() {
    while (true) {
      const int c = peek();
      if (c != ' ' && c != '\n' && c != '\r' && c != '\t') return;
      pos++;
    }
  }
  void expect(char c) {
    if (get() != c) fail(std::string("the dump is not JSON: expected '") + c + "'");
  }

  // Calls on_member(key) for each member of the object that follows, with the
  // reader at the member's value.
  template <typename OnMember>
  void readMembers(OnMember on_member) {
    expect('{');
    for (bool first = true;; first = false) {
      skipSpace();
      if (peek() == '}') break;
      if (!first) expect(',');
      skipSpace();
      std::string key;
      readString(&key);
      skipSpace();
      expect(':');
      skipSpace();
      on_member(key);
    }
    get();
  }

  // Calls on_item() for each item of the array that follows, with the reader at the item.
  template <typename OnItem>
  void readItems(OnItem on_item) {
    expect('[');
    for (bool first = true;; first = false) {
      skipSpace();
      if (peek() == ']') break;
      if (!first) expect(',');
      skipSpace();
      on_item();
    }
    get();
  }

  // A string; kept in `into` unless it is null. The dump escapes only quotes,
  // backslashes and control characters.
  void readString(std::string* into) {
    static const std::string_view kEscapes = "n\nt\tr\rb\bf\f";
    expect('"');
    while (true) {
      int c = get();
      if (c == EOF) fail("the dump ends inside a string");
      if (c == '"') return;
      if (c == '\\') {
        c = get();
        if (c == 'u') {
          uint32_t code = 0;
          for (int i = 0; i < 4; i++) {
            const int h = get();
            code = code * 16 + static_cast<uint32_t>(h <= '9' ? h - '0' : (h | 0x20) - 'a' + 10);
          }
          c = code < 0x80 ? static_cast<int>(code) : '?';
        } else {
          const size_t escape = kEscapes.find(static_cast<char>(c));
          if (escape != std::string_view::npos && escape % 2 == 0) c = kEscapes[escape + 1];
        }
      }
      if (into != nullptr) *into += static_cast<char>(c);
    }
  }

  // Any value, kept in `out` unless it is null. Inside an "includedFrom" object
  // a "file" is the including file's, not a location's.
  void value(Json* out, bool in_included_from) {
    const int c = peek();
    if (c == '{') {
      object(out, in_included_from);
    } else if (c == '[') {
      if (out != nullptr) out->kind = Json::Kind::kArray;
      readItems([&] {
        if (out != nullptr) out->items.emplace_back();
        value(out != nullptr ? &out->items.back() : nullptr, in_included_from);
      });
    } else if (c == '"') {
      if (out != nullptr) out->kind = Json::Kind::kString;
      readString(out != nullptr ? &out->text : nullptr);
    } else {
      if (out != nullptr) out->kind = Json::Kind::kLiteral;
      for (int d = peek(); (d >= '0' && d <= '9') || (d >= 'a' && d <= 'z') || d == '-' ||
                           d == '+' || d == '.' || d == 'E';
           d = peek()) {
        if (out != nullptr) out->text += static_cast<char>(d);
        pos++;
      }
    }
  }

  // An object; a function body (CompoundStmt) is read but not kept.
  void object(Json* out, bool in_included_from) {
    if (out != nullptr) out->kind = Json::Kind::kObject;
    Json* keep = out;
    readMembers([&](const std::string& key) {
      member(keep, key, in_included_from);
      if (keep != nullptr && key == "kind" && keep->members.back().second.text == "CompoundStmt") {
        keep = nullptr;
      }
    });
    if (out != nullptr && !in_included_from && out->find("offset") != nullptr) {
      Json file;
      file.kind = Json::Kind::kString;
      file.text = current_file;
      out->members.emplace_back("$file", std::move(file));
    }
  }

  void member(Json* out, const std::string& key, bool in_included_from) {
    Json* into = nullptr;
    if (out != nullptr) {
      out->members.emplace_back(key, Json());
      into = &out->members.back().second;
    }
    if (key == "file" && !in_included_from) {
      current_file.clear();
      readString(&current_file);
      if (into != nullptr) {
        into->kind = Json::Kind::kString;
        into->text = current_file;
      }
      return;
    }
    value(into, in_included_from || key == "includedFrom");
  }

  // One declaration of the translation unit; its members before "inner" are
  // always read into `out`, its "inner" only when it lies in one of our headers
  // (the file of its "loc"). True when it does.
  bool topLevelDeclaration(Json& out) {
    out.kind = Json::Kind::kObject;
    std::string file_of_declaration;
    readMembers([&](const std::string& key) {
      if (key == "inner" && !isOurs(file_of_declaration)) return value(nullptr, false);
      member(&out, key, false);
      if (key == "loc") file_of_declaration = current_file;
    });
    return isOurs(file_of_declaration);
  }

  bool isOurs(const std::string& file) const {
    for (const std::string& prefix : prefixes) {
      if (file.compare(0, prefix.size(), prefix) == 0) return true;
    }
    return false;
  }

  std::FILE* in;
  Strings prefixes;
  std::vector<char> buffer = std::vector<char>(1 << 20);
  size_t pos = 0;
  size_t end = 0;
  std::string current_file;
};

// --- what our headers declare

enum class Entity : uint8_t {
  kNamespace,
  kClass,
  kClassTemplate,
  kEnum,
  kAlias,
  kNestedType,  // a class, enum or alias declared inside a class
  kVariable,
  kFunction,
  kEnumerator,
};

const char* entityName(Entity entity) {
  static const char* const kNames[] = {
      "the namespace",   "the class",    "the class template", "the enum",       "the alias",
      "the nested type", "the variable", "the function",       "the enumerator",
  };
  return kNames[static_cast<size_t>(entity)];
}

bool isTemplateParameter(const Json& declaration) {
  const std::string kind = declaration.kindName();
  return kind == "TemplateTypeParmDecl" || kind == "NonTypeTemplateParmDecl" ||
         kind == "TemplateTemplateParmDecl";
}

struct Base {
  std::string type;  // as printed
  bool is_public;
};

struct Symbol {
  Entity entity = Entity::kNamespace;
  Strings scope;                  // the enclosing namespaces and classes
  std::string tag;                // of a class: "class", "struct" or "union"
  const Json* pattern = nullptr;  // of a class template: its ClassTemplateDecl
  std::vector<Base> bases;
  bool complete = false;
};

// A free function (or function template) of one of our namespaces.
struct LibraryFunction {
  Strings scope;  // its namespaces
  std::string name;
  const Json* function;  // the FunctionDecl
  const Json* templ;     // its FunctionTemplateDecl, or null
};

// The source text the dump's ranges point into.
class SourceFiles {
 public:
  // The text of `range` (begin to the end of its last token).
  std::string textOf(const Json& range) {
    const Json* begin = expansion(range.find("begin"));
    const Json* end = expansion(range.find("end"));
    if (begin == nullptr || end == nullptr) fail("a declaration without a source range");
    const std::string& text = contentOf(begin->str("$file"));
    const size_t from = std::stoul(begin->str("offset"));
    const size_t to = std::stoul(end->str("offset")) + std::stoul(end->str("tokLen"));
    if (from > to || to > text.size()) fail("a source range outside " + begin->str("$file"));
    return text.substr(from, to - from);
  }

 private:
  static const Json* expansion(const Json* location) {
    if (location == nullptr) return nullptr;
    const Json* expanded = location->find("expansionLoc");
    return expanded != nullptr ? expanded : location;
  }
  const std::string& contentOf(const std::string& file) {
    auto found = files.find(file);
    if (found != files.end()) return found->second;
    std::ifstream in(file, std::ios::binary);
    if (!in) fail("cannot read " + file);
    std::ostringstream text;
    text << in.rdbuf();
    return files.emplace(file, text.str()).first->second;
  }

  std::map<std::string, std::string> files;
};

const std::set<std::string>& keywords() {
  static const std::set<std::string> words = {
      "alignof", "auto",     "bool",     "char",     "char16_t", "char32_t",    "char8_t",
      "class",   "const",    "decltype", "double",   "enum",     "false",       "float",
      "int",     "long",     "noexcept", "nullptr",  "operator", "short",       "signed",
      "sizeof",  "struct",   "template", "true",     "typename", "union",       "unsigned",
      "void",    "volatile", "wchar_t",  "__int128", "_Bool",    "static_cast", "__restrict",
  };
  return words;
}

// A name in a text: `written` at [begin, end); `member_of` is the name it
// follows as "Template<...>::name" (empty otherwise).
struct NameUse {
  size_t begin;
  size_t end;
  std::string written;
  std::string member_of;
};

bool identifierStart(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}

bool identifierPart(char c) { return identifierStart(c) || (c >= '0' && c <= '9'); }

// The names (a::b::c, ::a) in `text`, keywords among them.
std::vector<NameUse> namesIn(const std::string& text) {
  std::vector<NameUse> names;
  std::vector<std::string> open_templates;  // the name before each open '<'
  std::string closed_template;              // the name of the template-id that just ended
  size_t i = 0;
  while (i < text.size()) {
    const bool scope_start = text.compare(i, 2, "::") == 0;
    if (!identifierStart(text[i]) && !scope_start) {
      if (text[i] == '<') open_templates.push_back(names.empty() ? "" : names.back().written);
      if (text[i] == '>' && !open_templates.empty()) {
        closed_template = open_templates.back();
        open_templates.pop_back();
        i++;
        continue;
      }
      if (text[i] != ' ') closed_template.clear();
      i++;
      continue;
    }
    NameUse use{i, i, "", ""};
    if (scope_start && !closed_template.empty()) use.member_of = closed_template;
    closed_template.clear();
    size_t j = i;
    while (true) {
      if (text.compare(j, 2, "::") == 0) j += 2;
      if (j >= text.size() || !identifierStart(text[j])) break;
      while (j < text.size() && identifierPart(text[j])) j++;
      if (text.compare(j, 2, "::") != 0 || j + 2 >= text.size() || !identifierStart(text[j + 2])) {
        break;
      }
    }
    use.end = j;
    use.written = text.substr(i, j - i);
    if (use.written.empty() || use.written == "::") {
      i = j > i ? j : i + 1;
      continue;
    }
    names.push_back(use);
    i = j;
  }
  return names;
}

// A text written for global scope: the names of ours in it qualified, what it
// needs declared before it and why it cannot come before our headers.
struct GlobalText {
  std::string text;
  std::set<std::string> classes;  // of ours, to forward-declare
  Strings not_before_headers;     // the reasons
  bool names_morrowtide = false;  // a name of morrowtide or a namespace in it
};

class Library {
 public:
  explicit Library(const std::vector<Json>& declarations) {
    for (const Json& declaration : declarations) walk(declaration, {}, {}, false);
  }

  const std::map<std::string, Symbol>& symbols() const { return table; }
  const std::vector<LibraryFunction>& functions() const { return free_functions; }

  // The qualified name of our declaration that `written` names from `scope`,
  // or "" when it names none of ours.
  std::string resolve(const std::string& written, const Strings& scope) const {
    if (written.compare(0, 2, "::") == 0) {
      return table.count(written.substr(2)) != 0 ? written.substr(2) : std::string();
    }
    for (size_t n = scope.size() + 1; n-- > 0;) {
      Strings prefix(scope.begin(), scope.begin() + static_cast<std::ptrdiff_t>(n));
      const std::string candidate = qualified(prefix, written);
      if (table.count(candidate) != 0) return candidate;
    }
    return std::string();
  }

  // `text`, written in `scope`, rewritten for global scope. In a default
  // argument every name of ours keeps the text from before our headers.
  GlobalText globalText(const std::string& text, const Strings& scope,
                        const std::set<std::string>& template_parameters,
                        bool default_argument) const {
    GlobalText out;
    size_t copied = 0;
    for (const NameUse& use : namesIn(text)) {
      if (keywords().count(use.written) != 0 || template_parameters.count(use.written) != 0) {
        continue;
      }
      if (!use.member_of.empty()) {
        const std::string owner = resolve(use.member_of, scope);
        if (!owner.empty()) {
          out.not_before_headers.push_back("names a nested type of " + owner);
          out.names_morrowtide |= owner.compare(0, 12, "morrowtide::") == 0;
        }
        continue;
      }
      const std::string name = resolve(use.written, scope);
      if (name.empty()) {
        if (use.written.compare(0, 12, "morrowtide::") == 0) {
          fail("cannot find " + use.written + " (in \"" + text + "\") among the declarations");
        }
        continue;
      }
      out.text += text.substr(copied, use.begin - copied) + name;
      copied = use.end;
      out.names_morrowtide |= name.compare(0, 12, "morrowtide::") == 0;
      const Symbol& symbol = table.at(name);
      if (default_argument) {
        out.not_before_headers.push_back(std::string("has a default argument that names ") +
                                         entityName(symbol.entity) + " " + name);
      } else if (symbol.entity == Entity::kClass || symbol.entity == Entity::kClassTemplate) {
        out.classes.insert(name);
      } else {
        out.not_before_headers.push_back(std::string("names ") + entityName(symbol.entity) + " " +
                                         name);
      }
    }
    out.text += text.substr(copied);
    return out;
  }

  // Whether class `derived` reaches class `base` through public bases only.
  bool derivesPublicly(const std::string& derived, const std::string& base) const {
    auto found = table.find(derived);
    if (found == table.end()) return false;
    for (const Base& b : found->second.bases) {
      if (!b.is_public) continue;
      std::string type = b.type;
      const size_t arguments = type.find('<');
      if (arguments != std::string::npos) type.erase(arguments);
      const std::string name = resolve(squeeze(type), found->second.scope);
      if (name == base || (!name.empty() && derivesPublicly(name, base))) return true;
    }
    return false;
  }

 private:
  void add(const std::string& name, Symbol symbol) {
    auto [at, inserted] = table.emplace(name, symbol);
    if (inserted) return;
    if (symbol.complete && !at->second.complete) {
      at->second.complete = true;
      at->second.bases = symbol.bases;
    }
  }

  static std::vector<Base> basesOf(const Json& record) {
    std::vector<Base> bases;
    const Json* list = record.find("bases");
    if (list == nullptr) return bases;
    for (const Json& base : list->items) {
      const Json* type = base.find("type");
      std::string printed = type != nullptr ? type->str("desugaredQualType") : std::string();
      if (printed.empty()) printed = base.typeOf();
      bases.push_back({printed, base.str("access") == "public"});
    }
    return bases;
  }

  // Records `declaration` (in `scope`, whose namespaces are `namespaces`) and
  // what it declares inside.
  void walk(const Json& declaration, const Strings& scope, const Strings& namespaces,
            bool in_class) {
    if (declaration.isTrue("isImplicit")) return;
    const std::string kind = declaration.kindName();
    const std::string name = declaration.str("name");
    Symbol symbol;
    symbol.scope = scope;
    if (kind == "NamespaceDecl") {
      const std::string part = name.empty() ? "(anonymous namespace)" : name;
      add(qualified(scope, part), symbol);
      Strings inside = scope;
      inside.push_back(part);
      for (const Json& child : declaration.inner()) walk(child, inside, inside, false);
    } else if (kind == "LinkageSpecDecl") {
      for (const Json& child : declaration.inner()) walk(child, scope, namespaces, in_class);
    } else if (kind == "CXXRecordDecl" || kind == "ClassTemplateDecl") {
      const Json* record = &declaration;
      if (kind == "ClassTemplateDecl") {
        record = nullptr;
        for (const Json& child : declaration.inner()) {
          if (child.kindName() == "CXXRecordDecl" && record == nullptr) record = &child;
        }
        if (record == nullptr) return;
        symbol.pattern = &declaration;
      }
      if (name.empty()) return;
      symbol.entity = in_class                      ? Entity::kNestedType
                      : kind == "ClassTemplateDecl" ? Entity::kClassTemplate
                                                    : Entity::kClass;
      symbol.tag = record->str("tagUsed");
      symbol.complete = record->isTrue("completeDefinition");
      if (symbol.complete) symbol.bases = basesOf(*record);
      add(qualified(scope, name), symbol);
      Strings inside = scope;
      inside.push_back(name);
      for (const Json& child : record->inner()) walk(child, inside, namespaces, true);
    } else if (kind == "EnumDecl") {
      if (name.empty()) return;
      symbol.entity = in_class ? Entity::kNestedType : Entity::kEnum;
      add(qualified(scope, name), symbol);
      Strings inside = scope;
      inside.push_back(name);
      for (const Json& child : declaration.inner()) {
        if (child.kindName() != "EnumConstantDecl") continue;
        Symbol enumerator;
        enumerator.entity = Entity::kEnumerator;
        enumerator.scope = inside;
        add(qualified(inside, child.str("name")), enumerator);
        if (declaration.find("scopedEnumTag") == nullptr) {
          enumerator.scope = scope;
          add(qualified(scope, child.str("name")), enumerator);
        }
      }
    } else if (kind == "TypedefDecl" || kind == "TypeAliasDecl" ||
               kind == "TypeAliasTemplateDecl") {
      symbol.entity = in_class ? Entity::kNestedType : Entity::kAlias;
      add(qualified(scope, name), symbol);
    } else if ((kind == "VarDecl" || kind == "VarTemplateDecl") && !in_class) {
      symbol.entity = Entity::kVariable;
      add(qualified(scope, name), symbol);
    } else if ((kind == "FunctionDecl" || kind == "FunctionTemplateDecl") && !in_class) {
      symbol.entity = Entity::kFunction;
      add(qualified(scope, name), symbol);
      addFunction(declaration, namespaces);
    } else if (kind == "FriendDecl") {
      // A friend function defined in a class is a free function of the class's namespace.
      for (const Json& child : declaration.inner()) {
        const std::string child_kind = child.kindName();
        if (child_kind == "FunctionDecl" || child_kind == "FunctionTemplateDecl") {
          symbol.entity = Entity::kFunction;
          add(qualified(namespaces, child.str("name")), symbol);
          addFunction(child, namespaces);
        }
      }
    }
  }

  void addFunction(const Json& declaration, const Strings& namespaces) {
    if (declaration.kindName() == "FunctionDecl") {
      free_functions.push_back({namespaces, declaration.str("name"), &declaration, nullptr});
      return;
    }
    // The first FunctionDecl is the template's own; the others are its instantiations.
    for (const Json& child : declaration.inner()) {
      if (child.kindName() == "FunctionDecl") {
        free_functions.push_back({namespaces, child.str("name"), &child, &declaration});
        return;
      }
    }
  }

  std::map<std::string, Symbol> table;
  std::vector<LibraryFunction> free_functions;
};

// --- the twins

struct Parameter {
  std::string type;              // for global scope
  std::string default_argument;  // for global scope; "" when none
};

struct TemplateParameter {
  std::string declaration;       // "typename T", "bool kFlag", for global scope
  std::string default_argument;  // "" when none
  std::string name;
  std::string kind;  // the dump's
};

struct Twin {
  std::string name;
  std::string described;  // "morrowtide::closeFile(std::FILE *)"
  Strings also_of;        // further functions of ours with this twin's signature
  std::vector<TemplateParameter> template_parameters;
  std::vector<Parameter> parameters;
  bool variadic = false;
  std::set<std::string> classes;  // of ours, to forward-declare
  Strings not_before_headers;     // why it cannot precede our headers
  bool names_morrowtide = false;
  int tag = 0;

  void take(const GlobalText& text) {
    classes.insert(text.classes.begin(), text.classes.end());
    not_before_headers.insert(not_before_headers.end(), text.not_before_headers.begin(),
                              text.not_before_headers.end());
    names_morrowtide |= text.names_morrowtide;
  }
  std::string templateHead(bool with_defaults) const {
    if (template_parameters.empty()) return "";
    Strings parts;
    for (const TemplateParameter& p : template_parameters) {
      const bool with_default = with_defaults && !p.default_argument.empty();
      parts.push_back(p.declaration + (with_default ? " = " + p.default_argument : ""));
    }
    return "template <" + join(parts, ", ") + ">\n";
  }
  std::string parameterList(bool with_defaults) const {
    Strings parts;
    for (const Parameter& p : parameters) {
      const bool with_default = with_defaults && !p.default_argument.empty();
      parts.push_back(p.type + (with_default ? " = " + p.default_argument : ""));
    }
    if (variadic) parts.push_back("...");
    return join(parts, ", ");
  }
  std::string signature() const {
    return templateHead(false) + name + "(" + parameterList(false) + ")";
  }
  std::string tagName() const { return "TwinTag" + std::to_string(tag); }
};

// `text` split at the '=' of its default argument (when `has_default`).
std::pair<std::string, std::string> splitDefault(const std::string& text, bool has_default) {
  if (!has_default) return {text, ""};
  const size_t equals = text.find('=');
  if (equals == std::string::npos) fail("no default argument in \"" + text + "\"");
  return {squeeze(text.substr(0, equals)), squeeze(text.substr(equals + 1))};
}

Twin makeTwin(const Library& library, SourceFiles& sources, const LibraryFunction& function) {
  Twin twin;
  twin.name = function.name;
  const std::vector<Json> none;
  const std::vector<Json>& template_inner = function.templ ? function.templ->inner() : none;
  std::set<std::string> template_names;
  for (const Json& child : template_inner) {
    if (isTemplateParameter(child)) template_names.insert(child.str("name"));
  }
  for (const Json& child : template_inner) {
    if (!isTemplateParameter(child)) continue;
    const auto [text, default_text] = splitDefault(squeeze(sources.textOf(*child.find("range"))),
                                                   child.find("defaultArg") != nullptr);
    const GlobalText declaration = library.globalText(text, function.scope, template_names, false);
    twin.take(declaration);
    TemplateParameter parameter{declaration.text, "", child.str("name"), child.kindName()};
    if (!default_text.empty()) {
      const GlobalText value =
          library.globalText(default_text, function.scope, template_names, true);
      twin.take(value);
      parameter.default_argument = value.text;
    }
    twin.template_parameters.push_back(parameter);
  }
  Strings written_types;
  for (const Json& child : function.function->inner()) {
    if (child.kindName() != "ParmVarDecl") continue;
    written_types.push_back(child.typeOf());
    const GlobalText type =
        library.globalText(child.typeOf(), function.scope, template_names, false);
    twin.take(type);
    Parameter parameter{type.text, ""};
    if (child.find("init") != nullptr && !child.inner().empty()) {
      const std::string text = squeeze(sources.textOf(*child.inner().front().find("range")));
      const GlobalText value = library.globalText(text, function.scope, template_names, true);
      twin.take(value);
      parameter.default_argument = value.text;
    }
    twin.parameters.push_back(parameter);
  }
  twin.variadic = function.function->isTrue("variadic");
  if (twin.variadic) written_types.push_back("...");
  twin.described = qualified(function.scope, function.name) + "(" + join(written_types, ", ") + ")";
  if (twin.described.find("(anonymous") != std::string::npos) {
    twin.not_before_headers.push_back("names a declaration of an unnamed namespace");
  }
  return twin;
}

// One twin per signature, in the order of the headers; functions of ours that
// share a signature (in different namespaces) share its twin.
std::vector<Twin> twinsOf(const Library& library, SourceFiles& sources) {
  std::vector<Twin> twins;
  std::map<std::string, size_t> by_signature;
  for (const LibraryFunction& function : library.functions()) {
    if (function.scope.empty() || function.scope.front() != "morrowtide") continue;
    Twin twin = makeTwin(library, sources, function);
    const auto [at, inserted] = by_signature.emplace(twin.signature(), twins.size());
    if (inserted) {
      twin.tag = static_cast<int>(twins.size()) + 1;
      twins.push_back(twin);
      continue;
    }
    Strings& also_of = twins[at->second].also_of;
    if (twin.described != twins[at->second].described &&
        std::find(also_of.begin(), also_of.end(), twin.described) == also_of.end()) {
      also_of.push_back(twin.described);
    }
  }
  if (twins.empty()) fail("no free function of morrowtide in the dump");
  return twins;
}

// The forward declaration of class `name` inside its namespaces, or "" (with
// the reason in `why`) when it cannot come before our headers.
std::string forwardDeclaration(const Library& library, SourceFiles& sources,
                               const std::string& name, std::string& why) {
  const Symbol& symbol = library.symbols().at(name);
  std::string head;
  if (symbol.entity == Entity::kClassTemplate) {
    std::set<std::string> names;
    Strings parameters;
    for (const Json& child : symbol.pattern->inner()) {
      if (!isTemplateParameter(child)) continue;
      names.insert(child.str("name"));
      parameters.push_back(splitDefault(squeeze(sources.textOf(*child.find("range"))),
                                        child.find("defaultArg") != nullptr)
                               .first);
    }
    const GlobalText text = library.globalText(join(parameters, ", "), symbol.scope, names, false);
    if (!text.not_before_headers.empty() || !text.classes.empty()) {
      why = "names " + name + ", whose template parameters name declarations of ours";
      return "";
    }
    head = "template <" + text.text + "> ";
  }
  std::string opening;
  std::string closing;
  for (const std::string& part : symbol.scope) {
    opening += "namespace " + part + " { ";
    closing += " }";
  }
  return opening + head + symbol.tag + " " + name.substr(name.rfind(':') + 1) + ";" + closing;
}

// Moves each twin that cannot be declared before our headers to after them (a
// reason in not_before_headers); returns the forward declarations the others need.
std::set<std::string> placeTwins(const Library& library, SourceFiles& sources,
                                 std::vector<Twin>& twins) {
  std::set<std::string> forward;
  for (Twin& twin : twins) {
    if (!twin.not_before_headers.empty()) continue;
    Strings needed;
    for (const std::string& name : twin.classes) {
      std::string why;
      const std::string declaration = forwardDeclaration(library, sources, name, why);
      if (declaration.empty()) {
        twin.not_before_headers.push_back(why);
      } else {
        needed.push_back(declaration);
      }
    }
    if (twin.not_before_headers.empty()) forward.insert(needed.begin(), needed.end());
  }
  return forward;
}

// The client's own global names, one per class and variable name of
// morrowtide (nested namespaces included), as definitions; a name that a twin
// or a global declaration of ours has already is left out.
Strings ownNames(const Library& library, const std::vector<Twin>& twins) {
  std::set<std::string> taken;
  for (const Twin& twin : twins) taken.insert(twin.name);
  for (const auto& [name, symbol] : library.symbols()) {
    if (symbol.scope.empty()) taken.insert(name);
  }
  Strings definitions;
  for (const auto& [name, symbol] : library.symbols()) {
    if (symbol.scope.empty() || symbol.scope.front() != "morrowtide") continue;
    const std::string plain = name.substr(name.rfind(':') + 1);
    const bool is_class =
        symbol.entity == Entity::kClass || symbol.entity == Entity::kClassTemplate;
    if ((!is_class && symbol.entity != Entity::kVariable) || !taken.insert(plain).second) continue;
    definitions.push_back(is_class ? "struct " + plain + " {};" : "int " + plain + " = 0;");
  }
  std::sort(definitions.begin(), definitions.end());
  return definitions;
}

std::string twinDefinition(const Twin& twin) {
  std::string out = "// " + twin.described + "\n";
  for (const std::string& other : twin.also_of) out += "// " + other + "\n";
  return out + "struct " + twin.tagName() + " {};\n" + twin.templateHead(true) + "inline " +
         twin.tagName() + " " + twin.name + "(" + twin.parameterList(true) +
         ") {\n  twinCalled(\"" + twin.described + "\");\n}\n";
}

// --- the checked calls

// The argument types an unqualified call of `twin` is checked with: its own
// parameter types, then each class parameter's place taken by every global
// class of ours that derives from that parameter's class.
std::vector<Strings> callsOf(const Library& library, const Twin& twin,
                             const Strings& global_classes) {
  Strings own;
  for (const Parameter& p : twin.parameters) own.push_back(p.type);
  std::vector<Strings> calls = {own};
  for (size_t i = 0; i < own.size(); i++) {
    // A class parameter: [cv] Class [& | && | * | *const], Class a global class of ours.
    std::string type = own[i];
    std::string qualifiers;
    while (type.compare(0, 6, "const ") == 0 || type.compare(0, 9, "volatile ") == 0) {
      const size_t blank = type.find(' ') + 1;
      qualifiers += type.substr(0, blank);
      type.erase(0, blank);
    }
    size_t name_end = 0;
    while (name_end < type.size() && (identifierPart(type[name_end]) || type[name_end] == ':')) {
      name_end++;
    }
    const std::string name = type.substr(0, name_end);
    const std::string declarator = squeeze(type.substr(name_end));
    std::string compact;
    for (const char c : declarator) {
      if (c != ' ') compact += c;
    }
    const auto symbol = library.symbols().find(name);
    if ((compact != "" && compact != "&" && compact != "&&" && compact != "*" &&
         compact != "*const") ||
        symbol == library.symbols().end() || symbol->second.entity != Entity::kClass ||
        !symbol->second.scope.empty()) {
      continue;
    }
    for (const std::string& derived : global_classes) {
      if (!library.derivesPublicly(derived, name)) continue;
      Strings call = own;
      // By value the object is copied from, by && moved from.
      call[i] = qualifiers + derived +
                (compact.empty()   ? " &"
                 : compact == "&&" ? ""
                                   : " " + declarator);
      calls.push_back(call);
    }
  }
  return calls;
}

// The template arguments of a checked call: int for a type, a value-initialised
// value otherwise. False (with the reason in `why`) when the call cannot be
// formed so.
bool templateArguments(const Twin& twin, Strings& arguments, std::string& why) {
  for (const TemplateParameter& p : twin.template_parameters) {
    if (p.kind == "TemplateTemplateParmDecl" || p.declaration.find("...") != std::string::npos) {
      why = "takes a template template parameter or a parameter pack";
      return false;
    }
    const std::string type = p.declaration.substr(0, p.declaration.size() - p.name.size());
    arguments.push_back(p.kind == "TemplateTypeParmDecl" ? "int" : squeeze(type) + "{}");
  }
  return true;
}

// `type` with each template parameter's name replaced by its argument.
std::string substituted(const std::string& type, const Twin& twin, const Strings& arguments) {
  std::string out;
  size_t copied = 0;
  for (const NameUse& use : namesIn(type)) {
    for (size_t i = 0; i < twin.template_parameters.size(); i++) {
      if (use.written != twin.template_parameters[i].name) continue;
      out += type.substr(copied, use.begin - copied) + arguments[i];
      copied = use.end;
    }
  }
  return out + type.substr(copied);
}

// The checks of the unqualified calls of the twins of functions that take no
// class of morrowtide: each well formed and of the twin's tag type.
std::string checkedCalls(const Library& library, const std::vector<Twin>& twins, int& count,
                         std::string& unchecked) {
  Strings global_classes;
  for (const auto& [name, symbol] : library.symbols()) {
    if (symbol.scope.empty() && symbol.entity == Entity::kClass && symbol.complete) {
      global_classes.push_back(name);
    }
  }
  std::string out = "template <class... Arguments>\nstruct TwinArguments {};\n";
  for (const Twin& twin : twins) {
    if (twin.names_morrowtide) continue;
    Strings arguments;
    std::string why;
    if (!templateArguments(twin, arguments, why)) {
      unchecked += "  " + twin.described + ": " + why + "\n";
      continue;
    }
    const std::string call = "TwinCall" + std::to_string(twin.tag);
    const std::string template_arguments =
        arguments.empty() ? "" : "<" + join(arguments, ", ") + ">";
    out += "\n// " + twin.described + "\ntemplate <class Arguments, class = void>\nstruct " + call +
           " : std::false_type {};\ntemplate <class... A>\nstruct " + call +
           "<TwinArguments<A...>,\n    std::enable_if_t<std::is_same_v<decltype(" + twin.name +
           template_arguments + "(std::declval<A>()...)), " + twin.tagName() +
           ">>> : std::true_type {};\n";
    for (const Strings& types : callsOf(library, twin, global_classes)) {
      Strings concrete;
      for (const std::string& type : types) concrete.push_back(substituted(type, twin, arguments));
      const std::string list = join(concrete, ", ");
      out += "static_assert(" + call + "<TwinArguments<" + list + ">>::value,\n    \"" + twin.name +
             template_arguments + "(" + list + "), unqualified, does not call its twin alone\");\n";
      count++;
    }
  }
  return out;
}

// --- the run

Strings readLines(const std::string& file) {
  std::ifstream in(file);
  if (!in) fail("cannot read " + file);
  Strings lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

void writeFile(const std::string& file, const std::string& text) {
  std::ofstream out(file, std::ios::binary);
  out << text;
  if (!out.flush()) fail("cannot write " + file);
}

// The standard headers that our headers include, as #include lines.
std::string standardIncludes(const std::string& all_headers, const Strings& include_dirs) {
  std::set<std::string> standard = {"<cstdio>", "<cstdlib>"};
  for (const std::string& line : readLines(all_headers)) {
    if (line.compare(0, 10, "#include <") != 0) continue;
    const std::string header = line.substr(10, line.find('>') - 10);
    for (const std::string& dir : include_dirs) {
      if (!std::ifstream(dir + "/" + header)) continue;
      for (const std::string& included : readLines(dir + "/" + header)) {
        if (included.compare(0, 10, "#include <") == 0 &&
            included.compare(10, 11, "morrowtide/") != 0) {
          standard.insert(included.substr(9, included.find('>') - 8));
        }
      }
      break;
    }
  }
  std::string out;
  for (const std::string& header : standard) out += "#include " + header + "\n";
  return out;
}

std::string shellQuoted(const std::string& argument) {
  std::string out = "'";
  for (const char c : argument) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// The declarations of our headers in the front end's dump of `all_headers`.
std::vector<Json> readDump(const std::string& front_end, const std::string& all_headers,
                           const Strings& include_dirs) {
  std::string command = shellQuoted(front_end) + " -std=c++17 -fsyntax-only -x c++";
  Strings prefixes;
  for (const std::string& dir : include_dirs) {
    command += " -I" + shellQuoted(dir);
    prefixes.push_back(dir + "/morrowtide/");
  }
  command += " -Xclang -ast-dump=json " + shellQuoted(all_headers);
  std::FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) fail("cannot run " + command);
  std::vector<Json> declarations;
  try {
    declarations = DumpReader(pipe, prefixes).readOurDeclarations();
  } catch (...) {
    pclose(pipe);
    throw;
  }
  if (pclose(pipe) != 0) fail("the front end failed: " + command);
  return declarations;
}

int run(int argc, char** argv) {
  if (argc < 5) {
    std::cerr << "usage: twin_generator FRONT_END ALL_HEADERS OUTPUT_DIR INCLUDE_DIR...\n";
    return 2;
  }
  const std::string all_headers = argv[2];
  const std::string output_dir = argv[3];
  const Strings include_dirs(argv + 4, argv + argc);
  const std::vector<Json> declarations = readDump(argv[1], all_headers, include_dirs);
  const Library library(declarations);
  SourceFiles sources;
  std::vector<Twin> twins = twinsOf(library, sources);
  const std::set<std::string> forward = placeTwins(library, sources, twins);
  const Strings own_names = ownNames(library, twins);

  std::string before =
      "// Generated by twin_generator from the installed headers: the twins of\n"
      "// morrowtide's free functions and the client's own global names, declared\n"
      "// before any header of ours.\n"
      "#ifndef MORROWTIDE_TWINS_BEFORE_H\n#define MORROWTIDE_TWINS_BEFORE_H\n\n" +
      standardIncludes(all_headers, include_dirs) +
      "\n// Ends the client when a twin is called.\n"
      "[[noreturn]] inline void twinCalled(const char* function) {\n"
      "  std::fprintf(stderr, \"twin_client: the twin of %s was called\\n\", function);\n"
      "  std::abort();\n}\n\n// The classes the twins name.\n";
  for (const std::string& declaration : forward) before += declaration + "\n";
  before += "\n";
  std::string after =
      "// Generated by twin_generator from the installed headers: the twins that\n"
      "// name an alias, an enum or a nested type of ours (not covered: our headers\n"
      "// cannot meet them), then the checks of unqualified calls of the twins.\n"
      "#ifndef MORROWTIDE_TWINS_AFTER_H\n#define MORROWTIDE_TWINS_AFTER_H\n\n"
      "#include <type_traits>\n#include <utility>\n\n";
  std::string not_covered;
  for (const Twin& twin : twins) {
    const std::string reasons = join(twin.not_before_headers, "; ");
    if (reasons.empty()) {
      before += twinDefinition(twin);
    } else {
      after += "// Not covered: it " + reasons + ".\n" + twinDefinition(twin);
      not_covered += "  " + twin.described + ": " + reasons + "\n";
    }
  }
  before += "\n// The client's own names, which morrowtide also has.\n";
  for (const std::string& definition : own_names) before += definition + "\n";
  before += "\n#endif  // MORROWTIDE_TWINS_BEFORE_H\n";
  int checked = 0;
  std::string unchecked;
  after += checkedCalls(library, twins, checked, unchecked);
  after += "\n#endif  // MORROWTIDE_TWINS_AFTER_H\n";

  writeFile(output_dir + "/twins_before.h", before);
  writeFile(output_dir + "/twins_after.h", after);
  std::cout << "twin_generator: " << twins.size() << " twins of morrowtide's free functions ("
            << std::count_if(twins.begin(), twins.end(),
                             [](const Twin& t) { return t.not_before_headers.empty(); })
            << " before our headers), " << own_names.size()
            << " global names of its classes and variables, " << checked
            << " unqualified calls checked\n";
  if (!not_covered.empty()) {
    std::cout << "twin_generator: not covered, declared after our headers:\n" << not_covered;
  }
  if (!unchecked.empty()) std::cout << "twin_generator: calls not checked:\n" << unchecked;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run(argc, argv);
  } catch (const std::exception& e) {
    std::cerr << "twin_generator: " << e.what() << "\n";
    return 1;
  }
}
