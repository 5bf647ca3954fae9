// Option parsing, usage text and file-name operations of the output opener, and
// the creation of the writer and the waveform writer that its settings choose.
// Every name is rebuilt in a std::string and stored as a fresh heap copy of the
// right size, so no operation writes past the storage of the name it had, and a
// setter may be given the opener's own string (the copy is taken before the old
// one is released).
#include "morrowtide/las/las_output_opener.h"

#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string_view>

#include "morrowtide/compressor/quodax.h"
#include "morrowtide/las/las_file_name.h"
#include "morrowtide/las/las_format.h"
#include "morrowtide/las/las_messages.h"
#include "morrowtide/las/las_waveform13_writer.h"
#include "morrowtide/las/las_writer_bin.h"
#include "morrowtide/las/las_writer_las.h"
#include "morrowtide/las/las_writer_qfit.h"
#include "morrowtide/las/las_writer_txt.h"
#include "morrowtide/las/las_writer_wrl.h"

namespace {

using las_messages::printLine;
using morrowtide::detail::fileNameStart;

constexpr size_t kNone = std::string::npos;

// Extension of each output format, indexed by format.
constexpr const char* kFormatExtensions[LASoutputOpener::kMaxFormat + 1] = {
    "las", "las", "qdx", "bin", "qi", "wrl", "txt"};

// Heap copy released with free(); allocation failure throws like new.
char* copyString(std::string_view text) {
  char* copy = static_cast<char*>(std::malloc(text.size() + 1));
  if (copy == nullptr) throw std::bad_alloc();
  std::memcpy(copy, text.data(), text.size());
  copy[text.size()] = '\0';
  return copy;
}

// Replaces an owned string field by a copy of `value` (or null). The copy is made
// before the old string is freed, so `value` may be the field itself.
void replaceString(char*& field, const char* value) {
  char* copy = value != nullptr ? copyString(value) : nullptr;
  std::free(field);
  field = copy;
}

// Index of the '.' that starts the extension of `name`: its last '.' after the
// last separator (a '.' in a folder is not the extension's) and never at index 0
// ("." and ".las" have none); kNone when there is none.
size_t extensionDot(const std::string& name) {
  const size_t start = std::max<size_t>(fileNameStart(name), 1);
  const size_t dot = name.rfind('.');
  return dot != kNone && dot >= start ? dot : kNone;
}

bool contains(const char* text, const char* part) { return std::strstr(text, part) != nullptr; }

// The format that a text names by substring (its extension, optionally after a
// `prefix` such as "."), in either case, tested in this order; text otherwise.
uint32_t formatByText(const char* text, const char* prefix = "") {
  struct Name {
    const char* lower;
    const char* upper;
    uint32_t format;
  };
  static constexpr Name kNames[] = {
      {"qdx", "QDX", LASoutputOpener::FormatCompressedLAS},
      {"las", "LAS", LASoutputOpener::FormatLAS},
      {"bin", "BIN", LASoutputOpener::FormatBIN},
      {"qi", "QI", LASoutputOpener::FormatQFIT},
      {"wrl", "WRL", LASoutputOpener::FormatWRL},
  };
  for (const Name& n : kNames) {
    if (contains(text, (std::string(prefix) + n.lower).c_str()) ||
        contains(text, (std::string(prefix) + n.upper).c_str())) {
      return n.format;
    }
  }
  return LASoutputOpener::FormatTXT;
}

// Removes up to `n` characters just before index `end`, never the last separator
// or anything before it. n <= 0 changes nothing.
void cutBefore(std::string& name, size_t end, int32_t n) {
  if (n <= 0) return;
  const size_t start = std::min(fileNameStart(name), end);
  const size_t count = std::min(static_cast<size_t>(n), end - start);
  name.erase(end - count, count);
}

// Removes up to `n` characters just before the extension's '.', or from the end
// of a name without one.
void cutName(std::string& name, int32_t n) {
  const size_t dot = extensionDot(name);
  cutBefore(name, dot != kNone ? dot : name.size(), n);
}

// `dir` + '/' + the part of `name` after its last separator.
std::string rebaseName(const std::string& name, const char* dir) {
  std::string result(dir);
  result += '/';
  result.append(name, fileNameStart(name), kNone);
  return result;
}

// `text` with `number` in the digit run just before its extension (a name
// without one: before its end), least significant digit first, and its extension
// replaced by `extension` (added when it has none). The run never reaches index
// 0, nor a separator, which is no digit. Warns when the run is too short for the
// number.
std::string numberedName(std::string text, int32_t number, const char* extension) {
  const size_t dot = extensionDot(text);
  size_t pos = dot != kNone ? dot : text.size();
  uint32_t rest = static_cast<uint32_t>(number);
  do {
    if (pos < 2 || text[pos - 1] < '0' || text[pos - 1] > '9') break;
    text[pos - 1] = static_cast<char>('0' + rest % 10);
    rest /= 10;
    pos--;
  } while (rest > 0);
  if (rest > 0) {
    printLine("WARNING: file name number %d too big to store in '%s'. use more digits.\n", number,
              text.c_str());
  }
  if (dot != kNone) {
    text.erase(dot + 1);
  } else {
    text += '.';
  }
  text += extension;
  return text;
}

// The name used when a derived output name equals its input name `given`, which
// writing would overwrite: "temp.<extension>", with the warning that says so.
std::string nameInsteadOfInput(const std::string& given, const char* extension) {
  const std::string text = std::string("temp.") + extension;
  printLine("WARNING: generated output name '%s'\n", given.c_str());
  printLine("         identical to input name. changed to '%s'.\n", text.c_str());
  printLine("         you can override this safety measure with '-oforce'.\n");
  return text;
}

// atoi-like reading (leading blanks, sign, digits; 0 without digits) that
// saturates at the I32 range instead of overflowing.
int32_t toInt32(const char* text) {
  const long value = std::strtol(text, nullptr, 10);
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value);
}

// An option that takes the next argument as its value: its name, the word for the
// value in the line printed when the value is missing, and what the value sets.
// `apply` returns false, after printing why, when the value is refused.
struct ValueOption {
  const char* name;
  const char* value_name;
  bool (*apply)(LASoutputOpener& opener, const char* value);
};

constexpr ValueOption kValueOptions[] = {
    {"-o", "file_name",
     [](LASoutputOpener& o, const char* v) {
       o.setFileName(v);
       return true;
     }},
    {"-odir", "directory",
     [](LASoutputOpener& o, const char* v) {
       if (o.setDirectory(v)) return true;
       printLine("ERROR: '%s' is not a valid directory\n", v);
       return false;
     }},
    {"-odix", "appendix",
     [](LASoutputOpener& o, const char* v) {
       o.setAppendix(v);
       return true;
     }},
    {"-ocut", "number of characters to cut",
     [](LASoutputOpener& o, const char* v) {
       o.setCut(toInt32(v));
       return true;
     }},
    {"-chunk_size", "number_points",
     [](LASoutputOpener& o, const char* v) {
       o.setChunkSize(static_cast<uint32_t>(toInt32(v)));
       return true;
     }},
    {"-oparse", "string",
     [](LASoutputOpener& o, const char* v) {
       o.setParseString(v);
       return true;
     }},
    {"-osep", "separator",
     [](LASoutputOpener& o, const char* v) {
       o.setSeparator(v);
       return true;
     }},
    {"-oscale_rgb", "scale",
     [](LASoutputOpener& o, const char* v) {
       o.setScaleRgb(static_cast<float>(std::atof(v)));
       return true;
     }},
    {"-io_obuffer", "size",
     [](LASoutputOpener& o, const char* v) {
       o.setIoObufferSize(static_cast<uint32_t>(toInt32(v)));
       return true;
     }},
};

const ValueOption* findValueOption(std::string_view option) {
  for (const ValueOption& candidate : kValueOptions) {
    if (option == candidate.name) return &candidate;
  }
  return nullptr;
}

}  // namespace

const char* LASoutputOpener::formatName(uint32_t format) {
  return format <= kMaxFormat ? kFormatExtensions[format] : nullptr;
}

LASoutputOpener::LASoutputOpener()
    : io_obuffer_size(262144),
      directory(nullptr),
      file_name(nullptr),
      appendix(nullptr),
      cut(0),
      opts(false),
      optx(false),
      parse_string(nullptr),
      separator(nullptr),
      scale_rgb(1.0f),
      format(FormatDefault),
      format_specified(false),
      force(false),
      native(true),
      chunk_size(50000),
      use_stdout(false),
      use_nil(false) {}

LASoutputOpener::~LASoutputOpener() {
  std::free(directory);
  std::free(file_name);
  std::free(appendix);
  std::free(parse_string);
  std::free(separator);
}

bool LASoutputOpener::parse(int32_t argc, char** argv) {
  for (int32_t i = 1; i < argc; i++) {
    char* arg = argv[i];
    if (arg == nullptr || arg[0] == '\0') continue;
    const std::string_view option(arg);
    if (option == "-h") {
      usage();
      return true;
    }
    if (const ValueOption* value_option = findValueOption(option)) {
      if (i + 1 >= argc || argv[i + 1] == nullptr) {
        printLine("ERROR: '%s' needs 1 argument: %s\n", arg, value_option->value_name);
        return false;
      }
      // The value is copied before the option and the value are consumed.
      const std::string value(argv[i + 1]);
      arg[0] = '\0';
      argv[++i][0] = '\0';
      if (!value_option->apply(*this, value.c_str())) return false;
    } else if (applyFlagOption(option)) {
      arg[0] = '\0';
    }
    // Any other argument is not an output option: it is left for the caller.
  }
  return true;
}

bool LASoutputOpener::applyFlagOption(std::string_view option) {
  if (option == "-oforce") {
    force = true;
  } else if (option == "-native") {
    native = true;
  } else if (option == "-compatible") {
    native = false;
  } else if (option == "-olas") {
    specifyFormat(FormatLAS);
  } else if (option == "-oqdx") {
    specifyFormat(FormatCompressedLAS);
  } else if (option == "-otxt") {
    // Text output keeps the name as it is.
    format_specified = true;
    format = FormatTXT;
  } else if (option == "-obin") {
    specifyFormat(FormatBIN);
  } else if (option == "-oqi") {
    specifyFormat(FormatQFIT);
  } else if (option == "-owrl") {
    specifyFormat(FormatWRL);
  } else if (option == "-stdout") {
    use_stdout = true;
    use_nil = false;
  } else if (option == "-nil") {
    use_nil = true;
    use_stdout = false;
  } else if (option == "-opts") {
    opts = true;
  } else if (option == "-optx") {
    optx = true;
  } else {
    return false;
  }
  return true;
}

void LASoutputOpener::usage() const {
  std::fputs("Supported LAS Outputs\n", stderr);
  std::fputs("  -o lidar.las\n", stderr);
  std::fputs("  -o lidar.qdx\n", stderr);
  std::fputs("  -o xyzta.txt -oparse xyzta (on-the-fly to ASCII)\n", stderr);
  std::fputs("  -o terrasolid.bin\n", stderr);
  std::fputs("  -o nasa.qi\n", stderr);
  std::fprintf(stderr, "  -odir C:%cdata%cground (specify output directory)\n", '/', '/');
  std::fputs("  -odix _classified (specify file name appendix)\n", stderr);
  std::fputs("  -ocut 2 (cut the last two characters from name)\n", stderr);
  std::fputs("  -olas -oqdx -otxt -obin -oqfit (specify format)\n", stderr);
  std::fputs("  -stdout (pipe to stdout)\n", stderr);
  std::fputs("  -nil    (pipe to NULL)\n", stderr);
}

void LASoutputOpener::setFileName(const char* name) {
  if (name == nullptr) {
    replaceString(file_name, nullptr);
    return;
  }
  std::string text(name);
  while (!text.empty() && text.back() == ' ') text.pop_back();

  // An extension has 0 to 3 characters: the nearest '.' among the last four
  // characters (index 0 included) starts it, when it lies after the last
  // separator ("a.b/x" has none and becomes "a.b/x.las").
  const size_t own_length = text.size() - fileNameStart(text);
  size_t dot = kNone;
  for (size_t back = 1; back <= 4 && back <= own_length; back++) {
    if (text[text.size() - back] == '.') {
      dot = text.size() - back;
      break;
    }
  }
  if (dot != kNone) {
    if (!format_specified) format = formatByText(text.c_str() + dot + 1);
  } else {
    text += '.';
    text += kFormatExtensions[format];
  }
  storeFileName(text);

  if (directory != nullptr) addDirectory();
  if (cut != 0) cutCharacters();
  if (appendix != nullptr) addAppendix();
}

bool LASoutputOpener::setDirectory(const char* dir) {
  // Null or an empty text names no directory: the name stays where it is
  // (joining it with "" would move it to the file system's root).
  if (dir == nullptr || dir[0] == '\0') {
    replaceString(directory, nullptr);
    return true;
  }
  std::string text(dir);
  if (text.find_first_of(";\"") != kNone) {
    printLine("WARNING: specified '-odir' seems to contain a substring '\\\"' such\n");
    printLine("         as -odir \"D:\\\" or -odir \"..\\tiles\\\". this command will\n");
    printLine("         probably fail. please use -odir \"D:\" or -odir \"..\\tiles\"\n");
    printLine("         instead.\n");
  }
  const bool drive = text.back() == ':';
  if (text.back() == '\\' || text.back() == '/') text.pop_back();
  replaceString(directory, text.c_str());
  if (file_name != nullptr) addDirectory();

  if (drive) return true;
  struct stat info;
  return stat(directory, &info) == 0 && S_ISDIR(info.st_mode);
}

void LASoutputOpener::setAppendix(const char* appendix) {
  replaceString(this->appendix, appendix);
  if (file_name != nullptr) addAppendix();
}

void LASoutputOpener::setCut(int32_t cut) {
  this->cut = cut;
  if (cut != 0 && file_name != nullptr) cutCharacters();
}

bool LASoutputOpener::setFormat(uint32_t format) {
  if (format > kMaxFormat) return false;
  specifyFormat(format);
  return true;
}

bool LASoutputOpener::setFormatByName(const char* name) {
  if (name == nullptr) {
    format = FormatDefault;
    format_specified = false;
    return true;
  }
  return setFormat(formatByText(name));
}

uint32_t LASoutputOpener::getFormat() const {
  if (format_specified || file_name == nullptr) return format;
  return formatByText(file_name, ".");
}

void LASoutputOpener::setParseString(const char* parse_string) {
  replaceString(this->parse_string, parse_string);
}

void LASoutputOpener::setSeparator(const char* separator) {
  replaceString(this->separator, separator);
}

void LASoutputOpener::addDirectory(const char* dir) {
  if (dir == nullptr) dir = directory;
  if (file_name == nullptr || dir == nullptr) return;
  storeFileName(rebaseName(file_name, dir));
}

void LASoutputOpener::cutCharacters(int32_t n) {
  if (n == 0) n = cut;
  if (file_name == nullptr || n <= 0) return;
  std::string name(file_name);
  cutName(name, n);
  storeFileName(name);
}

void LASoutputOpener::addAppendix(const char* appendix) {
  if (appendix == nullptr) appendix = this->appendix;
  if (file_name == nullptr || appendix == nullptr) return;
  std::string name(file_name);
  const size_t dot = extensionDot(name);
  if (dot != kNone) {
    name.insert(dot, appendix);
  } else {
    name += appendix;
  }
  storeFileName(name);
}

void LASoutputOpener::makeNumberedFileName(const char* name, int32_t digits) {
  std::string text = name != nullptr ? name : (file_name != nullptr ? file_name : "output.xxx");
  const size_t dot = extensionDot(text);
  // A name without an extension gets the number appended.
  if (dot != kNone) text.erase(dot);
  text += '_';
  if (digits > 0) text.append(static_cast<size_t>(digits), '0');
  text += ".xxx";
  storeFileName(text);
}

void LASoutputOpener::makeFileName(const char* name, int32_t number) {
  const char* extension = kFormatExtensions[format];
  // Copied first: `name` may be the opener's own file name.
  const std::string given = name != nullptr ? name : "";
  std::string text;
  if (number < 0) {
    text = name != nullptr ? stemmedName(given, number) : std::string("output.") + extension;
  } else {
    // The number goes into the given name after its cut, else into the file name
    // (a numbering template) or the default template.
    std::string numbered = given;
    if (name != nullptr) {
      cutName(numbered, cut);
    } else {
      numbered = file_name != nullptr ? file_name : "output_0000000.xxx";
    }
    text = numberedName(numbered, number, extension);
  }
  if (directory != nullptr) text = rebaseName(text, directory);
  if (name != nullptr && text == given && !force) text = nameInsteadOfInput(given, extension);
  storeFileName(text);
}

std::string LASoutputOpener::stemmedName(const std::string& given, int32_t number) const {
  std::string text = given;
  const size_t dot = extensionDot(text);
  if (dot != kNone) text.erase(dot);
  cutBefore(text, text.size(), cut);
  if (appendix != nullptr) {
    text += appendix;
  } else if (number == -1 && cut <= 0 && directory == nullptr) {
    text += "_1";
  }
  text += '.';
  text += kFormatExtensions[format];
  return text;
}

char* LASoutputOpener::getFileNameBase() const {
  if (file_name != nullptr) {
    std::string base(file_name);
    const size_t dot = extensionDot(base);
    if (dot != kNone) {
      base.erase(dot);
    } else if (fileNameStart(base) == 0 && !base.empty() && base[0] == '.') {
      // A name that is all extension (".las") has an empty base.
      base.clear();
    }
    return copyString(base);
  }
  if (directory != nullptr) return copyString(std::string(directory) + '/');
  return nullptr;
}

const char* LASoutputOpener::getFileNameOnly() const {
  if (file_name == nullptr) return nullptr;
  return file_name + fileNameStart(file_name);
}

void LASoutputOpener::storeFileName(const std::string& name) {
  replaceString(file_name, name.c_str());
}

void LASoutputOpener::specifyFormat(uint32_t format) {
  format_specified = true;
  this->format = format;
  if (file_name == nullptr) return;
  std::string name(file_name);
  const size_t dot = extensionDot(name);
  if (dot == kNone) return;
  name.erase(dot + 1);
  name += kFormatExtensions[format];
  storeFileName(name);
}

namespace {

// The line printed after a writer failed to open on a file name or on stdout.
void reportOpenFailure(const char* writer_name, const char* file_name) {
  if (file_name != nullptr) {
    printLine("ERROR: cannot open %s with file name '%s'\n", writer_name, file_name);
  } else {
    printLine("ERROR: cannot open %s to stdout\n", writer_name);
  }
}

// Hands out `writer` when it opened; otherwise prints the opener's line for it
// and deletes it.
LASwriter* keepOpened(LASwriter* writer, bool opened, const char* writer_name,
                      const char* file_name) {
  if (opened) return writer;
  reportOpenFailure(writer_name, file_name);
  delete writer;
  return nullptr;
}

// The side writers' fixed stdio buffers; the "-io_obuffer" size is for LAS files.
constexpr uint32_t kBinBufferSize = 262144;
constexpr uint32_t kQfitBufferSize = 65536;

// The compressor version the LAS writer is asked for.
constexpr int32_t kRequestedVersion = 2;

// The chunk size goes to the LAS writer as the same 32 bits read signed.
int32_t lasChunkSize(uint32_t chunk_size) { return static_cast<int32_t>(chunk_size); }

}  // namespace

LASwriter* LASoutputOpener::open(const LASheader* header) {
  if (use_nil) return openNull(header);
  if (file_name == nullptr && !use_stdout) {
    printLine("ERROR: no laswriter output specified\n");
    return nullptr;
  }
  // A file name wins over standard output.
  const char* name = file_name;
  switch (format) {
    case FormatDefault:
    case FormatLAS:
    case FormatCompressedLAS:
      return openLAS(header, name);
    case FormatBIN: {
      auto* writer = new LASwriterBIN();
      const bool opened = name != nullptr ? writer->openFile(name, header, "ts8", kBinBufferSize)
                                          : writer->openStdio(stdout, header, "ts8");
      return keepOpened(writer, opened, "laswriterbin", name);
    }
    case FormatQFIT: {
      auto* writer = new LASwriterQFIT();
      const bool opened = name != nullptr ? writer->openFile(name, header, 40, kQfitBufferSize)
                                          : writer->openStdio(stdout, header, 40);
      return keepOpened(writer, opened, "laswriterqfit", name);
    }
    case FormatWRL: {
      auto* writer = new LASwriterWRL();
      const bool opened = name != nullptr ? writer->openFile(name, header, parse_string)
                                          : writer->open(stdout, header, parse_string);
      return keepOpened(writer, opened, "laswriterwrl", name);
    }
    case FormatTXT:
      return openTXT(header, name);
    default:
      printLine("ERROR: unknown format %d\n", static_cast<int32_t>(format));
      return nullptr;
  }
}

uint32_t LASoutputOpener::compressor() const {
  if (format != FormatCompressedLAS) return Quodax::CompressorNone;
  return native ? Quodax::CompressorLayeredChunked : Quodax::CompressorChunked;
}

LASwriter* LASoutputOpener::openNull(const LASheader* header) const {
  auto* writer = new LASwriterLAS();
  if (!writer->openNull(header, compressor(), kRequestedVersion, lasChunkSize(chunk_size))) {
    printLine("ERROR: cannot open laswriterlas to NULL\n");
    delete writer;
    return nullptr;
  }
  return writer;
}

LASwriter* LASoutputOpener::openLAS(const LASheader* header, const char* name) const {
  auto* writer = new LASwriterLAS();
  const int32_t chunk = lasChunkSize(chunk_size);
  const bool opened =
      name != nullptr ? writer->openFile(name, header, compressor(), kRequestedVersion, chunk,
                                         static_cast<int32_t>(io_obuffer_size))
                      : writer->openStdio(stdout, header, compressor(), kRequestedVersion, chunk);
  return keepOpened(writer, opened, "laswriterlas", name);
}

LASwriter* LASoutputOpener::openTXT(const LASheader* header, const char* name) const {
  auto* writer = new LASwriterTXT();
  // "-opts" wins over "-optx".
  if (opts) {
    writer->setPts(true);
  } else if (optx) {
    writer->setPtx(true);
  }
  const bool opened = name != nullptr ? writer->openFile(name, header, parse_string, separator)
                                      : writer->open(stdout, header, parse_string, separator);
  if (opened && scale_rgb != 1.0f) writer->setScaleRgb(scale_rgb);
  return keepOpened(writer, opened, "laswritertxt", name);
}

LASwaveform13writer* LASoutputOpener::openWaveform13(const LASheader* header) {
  if (header == nullptr || file_name == nullptr) return nullptr;
  // Only the known formats without a wave packet (0 to 3, 6 to 8) are refused; a
  // format above 10 names no layout and is let through.
  const uint8_t point_format = header->point_data_format;
  const bool has_wave_packet = point_format > las_format::kMaxPointDataFormat ||
                               las_format::formatHasWavePacket(point_format);
  if (!has_wave_packet || header->vlr_wave_packet_descr == nullptr) return nullptr;
  auto* waveform_writer = new LASwaveform13writer();
  if (!waveform_writer->open(file_name, header->vlr_wave_packet_descr)) {
    delete waveform_writer;
    return nullptr;
  }
  return waveform_writer;
}

void LASoutputOpener::deleteWriter(LASwriter* writer) const { delete writer; }
