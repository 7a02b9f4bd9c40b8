// Error types of the isotope tool.
//
// Every failure is an isotope::Error that says what went wrong (the message),
// of which kind (so that the Python binding can raise the matching host
// exception: KeyError, ValueError, TypeError, IndexError, OSError and its
// subclasses, UnicodeDecodeError) and, once known, where: the file, its line
// and the column or key involved.
#pragma once

#include <exception>
#include <string>
#include <string_view>

namespace isotope {

enum class ErrorKind {
  Lookup,  // a key missing from a table (Python: KeyError)
  Value,   // a value that cannot be converted or is out of range (ValueError)
  Type,    // a value of the wrong type or an absent value (TypeError)
  Index,   // a parameter line without "=" (IndexError)
  OS,      // a file or directory operation failed (OSError, with errno)
  Decode,  // bytes that are not valid UTF-8 (UnicodeDecodeError)
};

class Error : public std::exception {
 public:
  Error(ErrorKind kind, std::string message);

  ErrorKind kind() const noexcept { return kind_; }
  // The message without the place.
  const std::string& message() const noexcept { return message_; }
  // The message followed by the place, if any.
  const char* what() const noexcept override { return full_.c_str(); }
  // The Python exception type this error maps to, e.g. "KeyError".
  std::string kind_name() const;

  // Lookup errors: the missing key itself.
  const std::string& key() const noexcept { return key_; }
  // OS errors: errno and the path involved.
  int os_errno() const noexcept { return errno_; }
  const std::string& filename() const noexcept { return filename_; }
  // Decode errors: byte range of the offending sequence (offsets into the
  // text handed to the decoder), and the reason as Python words it.
  std::size_t decode_start() const noexcept { return decode_start_; }
  std::size_t decode_end() const noexcept { return decode_end_; }
  const std::string& decode_reason() const noexcept { return decode_reason_; }
  const std::string& decode_object() const noexcept { return decode_object_; }

  // The place: set by whoever knows it (the pipeline knows file, line and
  // column). A place is only set once: the innermost knowledge wins.
  const std::string& file() const noexcept { return file_; }
  long line() const noexcept { return line_; }
  const std::string& column() const noexcept { return column_; }
  bool has_place() const noexcept { return !file_.empty() || line_ > 0; }
  Error& at(std::string_view file, long line = 0, std::string_view column = {});
  // Adds to the message what it means or how to fix it: "; <detail>".
  Error& explain(std::string_view detail);
  bool explained() const noexcept { return explained_; }

  // Builders, one per kind, so that every message is made in one place.
  // `after`, when given, follows the key in the message (a hint such as
  // "(did you mean 'Oxidation'?)").
  static Error lookup(std::string_view what, std::string_view key, std::string_view after = {});
  static Error value(std::string message);
  static Error type(std::string message);
  static Error index(std::string message);
  static Error os(int err, std::string_view filename);
  static Error decode(std::string_view object, std::size_t start, std::size_t end,
                      std::string reason);

 private:
  void update_full();

  ErrorKind kind_;
  std::string message_;
  std::string full_;
  std::string key_;
  int errno_ = 0;
  std::string filename_;
  std::size_t decode_start_ = 0, decode_end_ = 0;
  std::string decode_reason_;
  std::string decode_object_;
  std::string file_;
  long line_ = 0;
  std::string column_;
  bool explained_ = false;
};

// Python's repr() of a text: 'X', "it's", with escapes for control characters.
std::string py_repr(std::string_view text);

}  // namespace isotope
