// Names, separators, header recognition and file selection of the engine
// formats.
#include "isotope/formats/engine_format.hpp"

#include <algorithm>
#include <array>

#include "isotope/base/errors.hpp"

namespace isotope {

namespace {

struct FormatInfo {
  EngineFormat format;
  std::string_view option, engine;
  char separator;
  // Column names that together give the format away (an empty one
  // stands for none).
  std::array<std::string_view, 3> signature;
  SpectrumColumnNames spectra;  // where rows name their run and MS2 spectrum
};

// A ProForma table has no signature: it is read only when asked for.
constexpr std::array<FormatInfo, 5> kFormats = {{
    {EngineFormat::PGlyco3, "pglyco3", "pGlyco3", '\t', {"Peptide", "GlycanComposition", "PrecursorMZ"},
     {"RawName", "Scan"}},
    {EngineFormat::FragPipe, "fragpipe", "FragPipe", '\t', {"Peptide", "Assigned Modifications", "Charge"},
     {"Spectrum", "Spectrum"}},
    {EngineFormat::MetaMorpheus, "metamorpheus", "MetaMorpheus", '\t', {"Full Sequence", "Precursor Charge", "Precursor MZ"},
     {"File Name", "Scan Number"}},
    {EngineFormat::GlycReSoft, "glycresoft", "GlycReSoft", ',', {"glycopeptide", "neutral_mass", ""}, {"", "scan_id"}},
    {EngineFormat::ProForma, "proforma", "ProForma", '\t', {}, {}},
}};

const FormatInfo& info(EngineFormat format) {
  return *std::find_if(kFormats.begin(), kFormats.end(), [&](const FormatInfo& i) { return i.format == format; });
}

bool ends_with(std::string_view s, std::string_view tail) {
  return s.size() >= tail.size() && s.substr(s.size() - tail.size()) == tail;
}

}  // namespace

std::string_view option_value(EngineFormat format) { return info(format).option; }
std::string_view engine_name(EngineFormat format) { return info(format).engine; }
char separator(EngineFormat format) { return info(format).separator; }
SpectrumColumnNames spectrum_columns(EngineFormat format) { return info(format).spectra; }

std::optional<SpectrumTitle> spectrum_title(std::string_view text) {
  // NAME, then three dot-separated numbers: scan, scan, charge.
  std::array<std::string_view, 3> parts;
  std::string_view rest = text;
  for (std::size_t k = 3; k-- > 0;) {
    const std::size_t dot = rest.rfind('.');
    if (dot == std::string_view::npos) return std::nullopt;
    parts[k] = rest.substr(dot + 1);
    rest = rest.substr(0, dot);
  }
  const auto digits = [](std::string_view s) {
    return !s.empty() && s.size() <= 9 && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
  };
  if (rest.empty() || !digits(parts[0]) || !digits(parts[1]) || !digits(parts[2])) return std::nullopt;
  return SpectrumTitle{rest, std::stol(std::string(parts[0]))};
}

EngineFormat format_from_option(std::string_view value) {
  std::string choices;
  for (const auto& i : kFormats) {
    if (i.option == value) return i.format;
    if (!choices.empty()) choices += ", ";
    choices += i.option;
  }
  throw Error::value("unknown input format " + py_repr(value) + " (isotope_input_format takes " + choices + ")");
}

void unquote(std::string_view cell, std::string& out) {
  if (cell.size() < 2 || cell.front() != '"' || cell.back() != '"') {
    out.assign(cell);
    return;
  }
  out.clear();
  for (std::size_t k = 1; k + 1 < cell.size(); ++k) {
    out += cell[k];
    if (cell[k] == '"' && k + 2 < cell.size() && cell[k + 1] == '"') ++k;
  }
}

std::string unquote(std::string_view cell) {
  std::string text;
  unquote(cell, text);
  return text;
}

std::string r_name(std::string_view name) {
  std::string out;
  for (char c : name) {
    const bool valid = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '_';
    out += valid ? c : '.';
  }
  const bool digit_first = !out.empty() && ((out[0] >= '0' && out[0] <= '9') || out[0] == '_' ||
                                            (out[0] == '.' && out.size() > 1 && out[1] >= '0' && out[1] <= '9'));
  return out.empty() || digit_first ? "X" + out : out;
}

bool names_match(std::string_view header_name, std::string_view name) {
  return header_name == name || (header_name.find('.') != std::string_view::npos && header_name == r_name(name));
}

std::vector<std::string> header_names(std::string_view line) {
  const char sep = line.find('\t') != std::string_view::npos ? '\t' : ',';
  std::vector<std::string> names;
  std::size_t start = 0;
  for (;;) {
    std::size_t end = line.find(sep, start);
    names.push_back(unquote(line.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start)));
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return names;
}

std::optional<EngineFormat> detect_format(std::string_view first_line) {
  const std::vector<std::string> names = header_names(first_line);
  auto has = [&](std::string_view n) {
    return n.empty() || std::any_of(names.begin(), names.end(), [&](const std::string& h) { return names_match(h, n); });
  };
  // A table in our own format that carries an engine's columns along is
  // ours: its PepSeq column says so.
  if (has("PepSeq")) return std::nullopt;
  for (const auto& i : kFormats)
    if (!i.signature[0].empty() && std::all_of(i.signature.begin(), i.signature.end(), has)) return i.format;
  return std::nullopt;
}

std::string format_hint(EngineFormat format) {
  return "this looks like a " + std::string(engine_name(format)) +
         " result table: set isotope_input_format = " + std::string(option_value(format));
}

bool selects_file(EngineFormat format, std::string_view name) {
  switch (format) {
    case EngineFormat::PGlyco3: return ends_with(name, "txt");
    case EngineFormat::FragPipe: return name == "psm.tsv" || ends_with(name, ".tsv");
    case EngineFormat::MetaMorpheus: return ends_with(name, ".psmtsv");
    case EngineFormat::GlycReSoft: return ends_with(name, ".csv");
    case EngineFormat::ProForma: return ends_with(name, "txt") || ends_with(name, ".tsv");
  }
  return false;
}

}  // namespace isotope
