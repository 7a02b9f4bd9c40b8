// The Error type's messages and places, and the Python exception each kind
// stands for.
#include "isotope/base/errors.hpp"

#include <cerrno>
#include <cstring>

#include "isotope/base/unicode.hpp"

namespace isotope {

Error::Error(ErrorKind kind, std::string message) : kind_(kind), message_(std::move(message)) {
  update_full();
}

std::string Error::kind_name() const {
  switch (kind_) {
    case ErrorKind::Lookup: return "KeyError";
    case ErrorKind::Value: return "ValueError";
    case ErrorKind::Type: return "TypeError";
    case ErrorKind::Index: return "IndexError";
    case ErrorKind::Decode: return "UnicodeDecodeError";
    case ErrorKind::OS:
      switch (errno_) {
        case ENOENT: return "FileNotFoundError";
        case EACCES:
        case EPERM: return "PermissionError";
        case EISDIR: return "IsADirectoryError";
        case ENOTDIR: return "NotADirectoryError";
        case EEXIST: return "FileExistsError";
        default: return "OSError";
      }
  }
  return "Error";
}

Error& Error::at(std::string_view file, long line, std::string_view column) {
  if (!has_place()) {
    file_ = file;
    line_ = line;
    column_ = column;
    update_full();
  }
  return *this;
}

Error& Error::explain(std::string_view detail) {
  message_ += "; ";
  message_ += detail;
  explained_ = true;
  update_full();
  return *this;
}

void Error::update_full() {
  full_ = message_;
  if (!has_place()) return;
  if (!column_.empty()) {
    full_ += " in " + column_ + ",";
    full_ += line_ > 0 ? " line " + std::to_string(line_) + " of " + file_ : " " + file_;
  } else if (line_ > 0) {
    full_ += " at line " + std::to_string(line_) + " of " + file_;
  } else {
    full_ += " in " + file_;
  }
}

namespace {

// Python's repr of a key, cut short when the key is long (a megabyte cell
// can make one): the message stays one readable line, the key itself stays
// whole in Error::key().
std::string key_repr(std::string_view key) {
  constexpr std::size_t kShown = 100;
  if (key.size() <= kShown + 20) return py_repr(key);
  std::size_t cut = kShown;
  while (cut > 0 && (static_cast<unsigned char>(key[cut]) & 0xC0) == 0x80) --cut;  // whole characters
  return py_repr(key.substr(0, cut)) + "... (" + std::to_string(key.size()) + " bytes)";
}

}  // namespace

Error Error::lookup(std::string_view what, std::string_view key, std::string_view after) {
  std::string msg = what.empty() ? key_repr(key) : std::string(what) + " " + key_repr(key);
  if (!after.empty()) msg.append(" ").append(after);
  Error e(ErrorKind::Lookup, std::move(msg));
  e.key_ = key;
  return e;
}

Error Error::value(std::string message) { return Error(ErrorKind::Value, std::move(message)); }
Error Error::type(std::string message) { return Error(ErrorKind::Type, std::move(message)); }
Error Error::index(std::string message) { return Error(ErrorKind::Index, std::move(message)); }

Error Error::os(int err, std::string_view filename) {
  // Worded as Python words an OSError: [Errno 2] No such file or directory: 'x'
  std::string msg = "[Errno " + std::to_string(err) + "] " + std::strerror(err);
  if (!filename.empty() || err == ENOENT) msg += ": " + py_repr(filename);
  Error e(ErrorKind::OS, std::move(msg));
  e.errno_ = err;
  e.filename_ = filename;
  return e;
}

Error Error::decode(std::string_view object, std::size_t start, std::size_t end,
                    std::string reason) {
  // Worded as Python's UnicodeDecodeError: one byte is named, a longer
  // sequence is given as a range of positions.
  static const char* hex = "0123456789abcdef";
  std::string msg = "'utf-8' codec can't decode ";
  if (end == start + 1) {
    auto byte = static_cast<unsigned char>(start < object.size() ? object[start] : 0);
    msg += "byte 0x";
    msg += hex[byte >> 4];
    msg += hex[byte & 15];
    msg += " in position " + std::to_string(start);
  } else {
    msg += "bytes in position " + std::to_string(start) + "-" + std::to_string(end - 1);
  }
  msg += ": " + reason;
  Error e(ErrorKind::Decode, std::move(msg));
  e.decode_start_ = start;
  e.decode_end_ = end;
  e.decode_reason_ = std::move(reason);
  e.decode_object_ = object;
  return e;
}

std::string py_repr(std::string_view text) { return text::repr(text); }

}  // namespace isotope
