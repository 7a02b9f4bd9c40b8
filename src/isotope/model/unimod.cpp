// The reader of OpenMS's unimod.xml: each <umod:mod> record's title, full
// name, alternative names, id, delta mono mass and delta composition, in document order, with
// isotopes such as "13C" keyed "C[13]". A plain scan of the tags (no XML
// library): the file is OpenMS's own and well formed.
#include "isotope/model/unimod.hpp"

#include <cerrno>
#include <charconv>
#include <fstream>
#include <sstream>

#include "isotope/base/errors.hpp"
#include "isotope/base/text.hpp"

#ifndef ISOTOPE_OPENMS_SHARE
#define ISOTOPE_OPENMS_SHARE "/usr/share/openms"
#endif

namespace isotope {

namespace {

// Decodes the five predefined XML entities and numeric character references.
std::string xml_unescape(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t p = 0; p < s.size(); ++p) {
    if (s[p] != '&') {
      out += s[p];
      continue;
    }
    std::size_t semi = s.find(';', p);
    if (semi == std::string_view::npos) {
      out += s[p];
      continue;
    }
    std::string_view ent = s.substr(p + 1, semi - p - 1);
    if (ent == "amp") out += '&';
    else if (ent == "lt") out += '<';
    else if (ent == "gt") out += '>';
    else if (ent == "quot") out += '"';
    else if (ent == "apos") out += '\'';
    else if (!ent.empty() && ent[0] == '#') {
      unsigned long cp = 0;
      bool hex = ent.size() > 1 && (ent[1] == 'x' || ent[1] == 'X');
      std::string_view digits = ent.substr(hex ? 2 : 1);
      auto [ptr, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), cp, hex ? 16 : 10);
      if (ec != std::errc() || ptr != digits.data() + digits.size() || cp > 0x10FFFF) {
        out.append(s.substr(p, semi - p + 1));
      } else {
        text::append_utf8(out, static_cast<char32_t>(cp));
      }
    } else {
      out.append(s.substr(p, semi - p + 1));
    }
    p = semi;
  }
  return out;
}

// The value of attribute `name` inside one start tag's text, or empty.
std::string attribute(std::string_view tag, std::string_view name) {
  std::size_t p = 0;
  while ((p = tag.find(name, p)) != std::string_view::npos) {
    bool starts = p > 0 && (tag[p - 1] == ' ' || tag[p - 1] == '\n' || tag[p - 1] == '\t' || tag[p - 1] == '\r');
    std::size_t q = p + name.size();
    while (q < tag.size() && (tag[q] == ' ' || tag[q] == '\n' || tag[q] == '\t' || tag[q] == '\r')) ++q;
    if (starts && q < tag.size() && tag[q] == '=') {
      ++q;
      while (q < tag.size() && (tag[q] == ' ' || tag[q] == '\n' || tag[q] == '\t' || tag[q] == '\r')) ++q;
      if (q < tag.size() && (tag[q] == '"' || tag[q] == '\'')) {
        std::size_t end = tag.find(tag[q], q + 1);
        if (end != std::string_view::npos) return xml_unescape(tag.substr(q + 1, end - q - 1));
      }
    }
    p += name.size();
  }
  return {};
}

// "13C" -> "C[13]"; symbols without a leading mass number stay as they are.
std::string element_key(std::string_view symbol) {
  std::size_t digits = 0;
  while (digits < symbol.size() && symbol[digits] >= '0' && symbol[digits] <= '9') ++digits;
  if (digits == 0 || digits == symbol.size()) return std::string(symbol);
  return std::string(symbol.substr(digits)) + "[" + std::string(symbol.substr(0, digits)) + "]";
}

}  // namespace

std::vector<UnimodRecord> parse_unimod_xml(std::string_view xml) {
  std::vector<UnimodRecord> records;
  constexpr std::string_view kMod = "<umod:mod ", kModEnd = "</umod:mod>";
  constexpr std::string_view kDelta = "<umod:delta", kDeltaEnd = "</umod:delta>";
  constexpr std::string_view kElement = "<umod:element ";
  std::size_t p = 0;
  while ((p = xml.find(kMod, p)) != std::string_view::npos) {
    std::size_t tag_end = xml.find('>', p);
    std::size_t end = xml.find(kModEnd, p);
    if (tag_end == std::string_view::npos || end == std::string_view::npos) break;
    std::string_view tag = xml.substr(p, tag_end - p);
    std::string_view body = xml.substr(tag_end, end - tag_end);
    UnimodRecord rec;
    rec.title = attribute(tag, "title");
    rec.full_name = attribute(tag, "full_name");
    std::string id = attribute(tag, "record_id");
    std::from_chars(id.data(), id.data() + id.size(), rec.record_id);
    constexpr std::string_view kAlt = "<umod:alt_name>", kAltEnd = "</umod:alt_name>";
    for (std::size_t a = body.find(kAlt); a != std::string_view::npos; a = body.find(kAlt, a)) {
      std::size_t a_end = body.find(kAltEnd, a);
      if (a_end == std::string_view::npos) break;
      rec.alt_names.push_back(xml_unescape(body.substr(a + kAlt.size(), a_end - a - kAlt.size())));
      a = a_end;
    }
    std::size_t d = body.find(kDelta);
    if (d != std::string_view::npos) {
      std::size_t dtag_end = body.find('>', d);
      std::size_t dend = body.find(kDeltaEnd, d);
      if (dtag_end != std::string_view::npos) {
        std::string mono = attribute(body.substr(d, dtag_end - d), "mono_mass");
        std::from_chars(mono.data(), mono.data() + mono.size(), rec.mono_mass);
      }
      std::string_view delta = body.substr(d, dend == std::string_view::npos ? std::string_view::npos : dend - d);
      std::size_t e = 0;
      while ((e = delta.find(kElement, e)) != std::string_view::npos) {
        std::size_t etag_end = delta.find('>', e);
        if (etag_end == std::string_view::npos) break;
        std::string_view etag = delta.substr(e, etag_end - e);
        std::string number = attribute(etag, "number");
        Count n = 0;
        auto [ptr, ec] = std::from_chars(number.data(), number.data() + number.size(), n);
        if (ec != std::errc() || ptr != number.data() + number.size())
          throw Error::value("Unimod record " + py_repr(rec.title) + ": bad element count " + py_repr(number));
        rec.composition.add(element_key(attribute(etag, "symbol")), n);
        e = etag_end;
      }
    }
    records.push_back(std::move(rec));
    p = end + kModEnd.size();
  }
  return records;
}

std::string UnimodDb::default_path() { return std::string(ISOTOPE_OPENMS_SHARE) + "/CHEMISTRY/unimod.xml"; }

std::shared_ptr<const UnimodDb> UnimodDb::load(const std::string& path) {
  auto db = std::make_shared<UnimodDb>();
  db->path_ = path.empty() ? default_path() : path;
  std::ifstream in(db->path_, std::ios::binary);
  if (!in) throw Error::os(errno ? errno : ENOENT, db->path_);
  std::ostringstream buf;
  buf << in.rdbuf();
  if (in.bad()) throw Error::os(EIO, db->path_);
  db->records_ = parse_unimod_xml(buf.str());
  if (db->records_.empty())
    throw Error::value("Unimod database " + py_repr(db->path_) + " holds no modification records");
  return db;
}

const UnimodRecord& UnimodDb::by_title(std::string_view title) const {
  for (const auto& r : records_)
    if (r.title == title) return r;
  for (const auto& r : records_)
    if (r.full_name == title) return r;
  throw Error::lookup("no Unimod record titled", title);
}

}  // namespace isotope
