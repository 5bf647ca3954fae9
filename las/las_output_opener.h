// The output opener: turns the output options of a command line ("-o", "-odir",
// "-odix", "-ocut", the format options, "-stdout", "-nil", ...) into one output
// description — a file name with its directory, appendix and cut, an output format,
// standard output or a null stream — plus the settings the writers take. It also
// carries the file-name operations that tools use to derive output names from
// input names, and creates the writer and the waveform writer for the description.
//
// Positions in a name used throughout are searched from the end of the name down
// to index 1. Its last separator ('/', '\\' or ':') ends its folders; its
// extension is what follows its last '.' after that separator: a '.' in a folder
// ("a.b/x") never starts one, a '.' at index 0 (".las") only where setFileName
// chooses the format. Cuts and extension rewrites change only the part after the
// last separator.
#ifndef MORROWTIDE_LAS_LAS_OUTPUT_OPENER_H
#define MORROWTIDE_LAS_LAS_OUTPUT_OPENER_H

#include <cstdint>
#include <string>
#include <string_view>

class LASheader;
class LASwriter;
class LASwaveform13writer;

class LASoutputOpener final {
 public:
  // Output formats; the extension of each is given by formatName.
  enum Format : uint32_t {
    FormatDefault = 0,        // "las", written as uncompressed LAS
    FormatLAS = 1,            // "las"
    FormatCompressedLAS = 2,  // "qdx"
    FormatBIN = 3,            // "bin"
    FormatQFIT = 4,           // "qi"
    FormatWRL = 5,            // "wrl"
    FormatTXT = 6,            // "txt"
  };
  static constexpr uint32_t kMaxFormat = FormatTXT;

  // The extension of `format` without the '.', or null above kMaxFormat.
  static const char* formatName(uint32_t format);

  // Defaults: buffer 262144, no names, cut 0, format 0 (not specified), native,
  // chunk size 50000, scale_rgb 1.0, neither standard output nor null output.
  LASoutputOpener();
  ~LASoutputOpener();
  LASoutputOpener(const LASoutputOpener&) = delete;
  LASoutputOpener& operator=(const LASoutputOpener&) = delete;

  // Consumes the output options among argv[1..argc-1]: a consumed option and its
  // value get their first character set to 0; other arguments stay untouched.
  // "-h" prints usage and returns true at once, itself left in place. Returns false
  // after printing an "ERROR: " line when an option lacks its value or "-odir"
  // names no usable directory; later arguments are then not examined.
  bool parse(int32_t argc, char** argv);
  // Prints the summary of the output options on standard error.
  void usage() const;

  // Sets the file name (trailing blanks removed): its extension (a '.' among its
  // last four characters, after the last separator) chooses the format unless one
  // was specified; without one the format's extension is appended ("a.b/x" gets
  // ".las"). The directory, cut and appendix are then applied. Null clears it.
  void setFileName(const char* name);
  // The file name, null when none is set. Owned by the opener.
  const char* getFileName() const { return file_name; }
  // Sets the directory (one trailing '/' or '\\' dropped) and moves the file name
  // into it. Null or an empty text sets no directory (the name stays as it is).
  // Returns true for those, for a text ending in ':' and for an existing
  // directory; false otherwise (the directory is still used).
  bool setDirectory(const char* dir);
  const char* getDirectory() const { return directory; }
  // Stores a copy of `appendix` (or null); inserts it into a set file name.
  void setAppendix(const char* appendix);
  const char* getAppendix() const { return appendix; }
  // Stores `cut`; a positive cut is applied to a set file name.
  void setCut(int32_t cut);
  int32_t getCut() const { return cut; }
  void setForce(bool force) { this->force = force; }
  bool getForce() const { return force; }
  void setNative(bool native) { this->native = native; }
  bool getNative() const { return native; }
  // Returns false for a value above kMaxFormat, changing nothing. Otherwise marks
  // the format as specified, stores it, rewrites the name's extension; true.
  bool setFormat(uint32_t format);
  // Chooses the format by a substring of `name` ("qdx", "las", "bin", "qi", "wrl"
  // in either all-lower or all-upper case, else text) as setFormat does. Null
  // resets to format 0, not specified. Always true.
  bool setFormatByName(const char* name);
  // The specified format, or the one the file name's extension names.
  uint32_t getFormat() const;
  // The extension of getFormat().
  const char* getFormatName() const { return formatName(getFormat()); }
  bool formatWasSpecified() const { return format_specified; }

  void setChunkSize(uint32_t chunk_size) { this->chunk_size = chunk_size; }
  uint32_t getChunkSize() const { return chunk_size; }
  void setParseString(const char* parse_string);
  const char* getParseString() const { return parse_string; }
  void setSeparator(const char* separator);
  const char* getSeparator() const { return separator; }
  void setScaleRgb(float scale_rgb) { this->scale_rgb = scale_rgb; }
  float getScaleRgb() const { return scale_rgb; }
  void setIoObufferSize(uint32_t size) { io_obuffer_size = size; }
  uint32_t getIoObufferSize() const { return io_obuffer_size; }
  // Text output with a PTS / PTX header line ("-opts", "-optx").
  bool getOpts() const { return opts; }
  bool getOptx() const { return optx; }
  // Output to standard output ("-stdout") or to a null stream ("-nil").
  bool getUseStdout() const { return use_stdout; }
  bool getUseNil() const { return use_nil; }

  // Moves the file name into `dir` (null: the stored directory), replacing any
  // directory part of the name. Nothing happens without a file name or directory.
  void addDirectory(const char* dir = nullptr);
  // Removes n characters (0: the stored cut) just before the extension, or from
  // the end of a name without one, never the last separator or anything before
  // it. n <= 0 does nothing.
  void cutCharacters(int32_t n = 0);
  // Inserts `appendix` (null: the stored one) before the extension, or appends it.
  void addAppendix(const char* appendix = nullptr);
  // Sets the file name to a numbering template: `name` (or the current name, or
  // "output.xxx") with its extension and its '.' replaced by '_', `digits` zeros
  // and ".xxx" (a name without extension gets them appended).
  void makeNumberedFileName(const char* name, int32_t digits);
  // Derives the output name from `name`: number < 0 builds stem, cut, appendix
  // (or "_1" for -1) and the format's extension; number >= 0 writes the number
  // into the digits before the extension. A result equal to `name` becomes
  // "temp.<ext>" with a warning unless force is set.
  void makeFileName(const char* name, int32_t number);
  // A new copy of the file name without its extension (or the directory followed
  // by '/' when there is no file name), null when neither is set. The caller
  // releases it with free().
  char* getFileNameBase() const;
  // The file name after its last separator (a pointer into the file name), or null.
  const char* getFileNameOnly() const;

  // True when a file name, standard output or the null stream is chosen.
  bool active() const { return file_name != nullptr || use_stdout || use_nil; }
  // True when output goes to standard output: no file name and "-stdout".
  bool pipesToStdout() const { return file_name == nullptr && use_stdout; }

  // Creates and opens the writer for the chosen format and target; the caller owns
  // it. Prints an "ERROR: " line and returns null when nothing can be opened.
  LASwriter* open(const LASheader* header);
  // Creates and opens the waveform writer beside the file name for a header with
  // a waveform point format and descriptors; the caller owns it. Null otherwise.
  LASwaveform13writer* openWaveform13(const LASheader* header);
  // Deletes `writer` through its virtual destructor.
  void deleteWriter(LASwriter* writer) const;

 private:
  // Applies `option` when it is one of the output options without a value; false,
  // changing nothing, for any other argument.
  bool applyFlagOption(std::string_view option);
  // Replaces the file name by `name`.
  void storeFileName(const std::string& name);
  // Sets the format as specified and rewrites the file name's extension to the new
  // format's; a name without extension keeps its text.
  void specifyFormat(uint32_t format);
  // makeFileName for a negative number: `given` without its extension, cut, with
  // the appendix (or "_1" for -1 without cut, appendix and directory) and the
  // format's extension.
  std::string stemmedName(const std::string& given, int32_t number) const;

  // The compressor for the format: none unless compressed, then the layered
  // chunked one unless "-compatible".
  uint32_t compressor() const;
  // open's steps: each creates its writer on the null stream, or on `name` when
  // it is set and else on standard output. The caller owns the result; null
  // after the opener's "ERROR: " line when it does not open.
  LASwriter* openNull(const LASheader* header) const;
  LASwriter* openLAS(const LASheader* header, const char* name) const;
  LASwriter* openTXT(const LASheader* header, const char* name) const;

  uint32_t io_obuffer_size;
  char* directory;  // owned (malloc'ed copy), or null
  char* file_name;  // owned, or null
  char* appendix;   // owned, or null
  int32_t cut;
  bool opts;
  bool optx;
  char* parse_string;  // owned, or null
  char* separator;     // owned, or null
  float scale_rgb;
  uint32_t format;
  bool format_specified;
  bool force;
  bool native;
  uint32_t chunk_size;
  bool use_stdout;
  bool use_nil;
};

#endif  // MORROWTIDE_LAS_LAS_OUTPUT_OPENER_H
