// The search-engine result formats the tool reads directly (the option
// isotope_input_format): their names, their separators, how a header line
// gives one away, and which files a folder run picks for each.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace isotope {

enum class EngineFormat { PGlyco3, FragPipe, MetaMorpheus, GlycReSoft, ProForma };

// The option value ("pglyco3", "fragpipe", "metamorpheus", "glycresoft",
// "proforma").
std::string_view option_value(EngineFormat format);
// The engine's own name ("pGlyco3", "FragPipe", ...).
std::string_view engine_name(EngineFormat format);
// The format an option value names; a value Error listing the values
// otherwise.
EngineFormat format_from_option(std::string_view value);
// The columns an engine's rows name their run and their MS2 spectrum in
// (empty: the format has none). FragPipe's Spectrum holds both, as a
// spectrum title "NAME.SCAN.SCAN.CHARGE".
struct SpectrumColumnNames {
  std::string_view run, scan;
};
SpectrumColumnNames spectrum_columns(EngineFormat format);

// A spectrum title "NAME.SCAN.SCAN.CHARGE" (as FragPipe and TPP write
// them): its run name and scan number; nullopt for any other text.
struct SpectrumTitle {
  std::string_view run;
  long scan = 0;
};
std::optional<SpectrumTitle> spectrum_title(std::string_view text);

// '\t', or ',' for GlycReSoft's CSV.
char separator(EngineFormat format);

// A cell wholly in double quotes without them ("" inside stands for one
// quote); any other as it is.
std::string unquote(std::string_view cell);
void unquote(std::string_view cell, std::string& out);  // into out, its buffer reused

// A column name as R's make.names writes it (read.csv's check.names):
// every character other than a letter, digit, '.' or '_' becomes '.', and
// "X" goes before a name that starts with a digit, '_' or '.' and a digit
// ("Calibrated Observed M/Z" -> "Calibrated.Observed.M.Z").
std::string r_name(std::string_view name);
// Whether a header's column name is `name`, as written or as make.names
// wrote it.
bool names_match(std::string_view header_name, std::string_view name);

// The column names of a raw header line (as read_first_line gives it): cut
// at tabs when the line holds one, else at commas; a name wholly in double
// quotes loses them ("" inside stands for one quote).
std::vector<std::string> header_names(std::string_view first_line);

// The engine whose result table a header line looks like, by the column
// names that only its tables hold together; nullopt for any other line,
// and for a header with our own PepSeq column (a table in our format that
// carries an engine's columns along is read as ours).
std::optional<EngineFormat> detect_format(std::string_view first_line);

// "this looks like a pGlyco3 result table: set isotope_input_format = pglyco3"
std::string format_hint(EngineFormat format);

// Whether a folder run in this format takes the file of this name
// (pglyco3: names ending in "txt"; fragpipe: "psm.tsv" and names ending in
// ".tsv"; metamorpheus: ".psmtsv"; glycresoft: ".csv"; proforma: "txt" or
// ".tsv").
bool selects_file(EngineFormat format, std::string_view file_name);

}  // namespace isotope
