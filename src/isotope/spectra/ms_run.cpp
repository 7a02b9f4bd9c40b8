// The run reader over OpenMS 2.6's mzML handler.
//
// Each pass hands the file to OpenMS's MzMLHandler with a consumer of our
// own (IMSDataConsumer), which sees the spectra one by one in file order:
//   - the index pass decodes no peaks (PeakFileOptions::setFillData(false));
//     a spectrum's precursor reference (mzML's <precursor spectrumRef=..>)
//     arrives as the Precursor's meta value "spectrum_ref", and the data
//     processing a spectrum names, or the spectrum list's default one, as
//     the spectrum's DataProcessing entries (ExperimentalSettings holds none);
//   - a short pass then decodes spectra from the start until it has seen
//     peaks of every MS level, to find a charge array (data arrays are only
//     read with the peaks);
//   - the data pass decodes the MS levels of the spectra asked for only
//     (setMSLevels) and stops after the last of them.
// OpenMS decodes the peaks of a pool of spectra in an OpenMP loop; the
// reader sets OpenMP's thread count of the calling thread to one while it
// parses (a setting of that thread only), so that reading stays on the
// caller's thread.
// The handler is driven the way MzMLFile::transform drives it, without
// transform itself: transform replaces every error of the parse with one
// that names only its type ("due to that error of type Parse Error"), and
// OpenMS's log drops a message that repeats, so neither would tell what is
// wrong with the file. The handler's own ParseError says it (with the line
// and column of an XML fault); read_run_index and read_spectra turn it into
// an Error naming the file. OpenMS's exceptions are caught here and nowhere
// else.
//
// The spectrum type is the file's ("centroid spectrum" MS:1000127,
// "profile spectrum" MS:1000128); when the file gives none, OpenMS's
// estimate (MSSpectrum::getType(true): a spectrum of peak-picking data
// processing is centroided, otherwise its peaks decide). Only a profile
// spectrum is picked; one whose type stays unknown (too few peaks to tell)
// is taken as centroided.
#include "isotope/spectra/ms_run.hpp"

#include <fcntl.h>
#include <omp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <exception>
#include <iostream>
#include <mutex>
#include <set>

#include <OpenMS/CONCEPT/Exception.h>
#include <OpenMS/CONCEPT/LogStream.h>
#include <OpenMS/FORMAT/HANDLERS/MzMLHandler.h>
#include <OpenMS/FORMAT/MzMLFile.h>
#include <OpenMS/INTERFACES/IMSDataConsumer.h>
#include <OpenMS/KERNEL/MSExperiment.h>
#include <OpenMS/KERNEL/MSSpectrum.h>
#include <OpenMS/METADATA/DataProcessing.h>
#include <OpenMS/TRANSFORMATIONS/RAW2PEAK/PeakPickerHiRes.h>

#include "isotope/base/errors.hpp"

namespace isotope {

namespace {

using OpenMS::MSSpectrum;

// ---- native ids ----------------------------------------------------------

// The number of a blank-separated "scan=N" or "scanId=N" in a native id.
std::optional<long> scan_number(std::string_view id) {
  std::size_t at = 0;
  while (at < id.size()) {
    const std::size_t end = std::min(id.find(' ', at), id.size());
    std::string_view token = id.substr(at, end - at);
    at = end + 1;
    for (std::string_view key : {"scan=", "scanId="}) {
      if (!token.starts_with(key)) continue;
      token.remove_prefix(key.size());
      long n = 0;
      const auto [rest, ec] = std::from_chars(token.data(), token.data() + token.size(), n);
      if (ec == std::errc() && rest == token.data() + token.size() && !token.empty()) return n;
    }
  }
  return std::nullopt;
}

// ---- files and OpenMS's errors -------------------------------------------

// A missing or unreadable path, or one that is no regular file (OpenMS
// aborts on a directory, and the passes read the file more than once).
void check_readable(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) throw Error::os(errno, path);
  struct stat st;
  const int err = ::fstat(fd, &st) == 0 ? 0 : errno;
  ::close(fd);
  if (err != 0) throw Error::os(err, path);
  if (S_ISDIR(st.st_mode)) throw Error::os(EISDIR, path);
  if (!S_ISREG(st.st_mode)) throw Error::value("the run " + py_repr(path) + " is no regular file");
}

// Reads the number after `key` in text, if there.
long number_after(std::string_view text, std::string_view key) {
  const std::size_t at = text.find(key);
  if (at == std::string_view::npos) return 0;
  long n = 0;
  const char* begin = text.data() + at + key.size();
  std::from_chars(begin, text.data() + text.size(), n);
  return n;
}

// The Error for an exception of OpenMS's handler. Its message reads
// "While loading '<file>': <cause>[( in line L column C)] in: <file>", the
// cause possibly followed by a guess on a second line.
Error refused(const std::string& path, const OpenMS::Exception::BaseException& e) {
  if (std::string_view(e.getName()) == "FileNotFound") return Error::os(ENOENT, path);
  std::string cause = e.getMessage();
  if (cause.ends_with(" in: " + path)) cause.erase(cause.size() - path.size() - 5);
  long line = 0, column = 0;
  if (const std::size_t place = cause.rfind("( in line "); place != std::string::npos) {
    line = number_after(cause.substr(place), " line ");
    column = number_after(cause.substr(place), " column ");
    cause.erase(place);
  }
  if (const std::string head = "While loading '" + path + "': "; cause.starts_with(head)) cause.erase(0, head.size());
  cause = cause.substr(0, cause.find('\n'));
  while (!cause.empty() && (cause.back() == '!' || cause.back() == ' ')) cause.pop_back();
  if (cause.size() > 1 && std::isupper(static_cast<unsigned char>(cause[0])) &&
      std::islower(static_cast<unsigned char>(cause[1])))
    cause[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(cause[0])));
  if (cause.empty()) cause = std::string(e.getName());
  Error error = Error::value("OpenMS cannot read the run: " + cause);
  if (cause.find("attribute 'name'") != std::string::npos)
    error.explain("OpenMS 2.6 needs a name on every cvParam and userParam");
  return line > 0 ? std::move(error.at(path, line, "column " + std::to_string(column))) : std::move(error.at(path));
}

// Xerces, under OpenMS's parser, is set up and torn down around each
// parse; one parse at a time keeps that safe from any thread.
std::mutex& parse_mutex() {
  static std::mutex m;
  return m;
}

// OpenMP's thread count of this thread set to one, for its lifetime.
class OneOpenMPThread {
 public:
  OneOpenMPThread() : saved_(omp_get_max_threads()) { omp_set_num_threads(1); }
  ~OneOpenMPThread() { omp_set_num_threads(saved_); }
  OneOpenMPThread(const OneOpenMPThread&) = delete;
  OneOpenMPThread& operator=(const OneOpenMPThread&) = delete;

 private:
  int saved_;
};

// OpenMS's error log (bound to standard error) silenced for this object's
// lifetime: a file OpenMS refuses fails with an Error that carries the
// cause, which the log would print again as a line of its own.
class QuietErrorLog {
 public:
  QuietErrorLog() {
    OpenMS::OpenMS_Log_error.remove(std::cerr);
    OpenMS::OpenMS_Log_fatal.remove(std::cerr);
  }
  ~QuietErrorLog() {
    OpenMS::OpenMS_Log_error.insert(std::cerr);
    OpenMS::OpenMS_Log_fatal.insert(std::cerr);
  }
  QuietErrorLog(const QuietErrorLog&) = delete;
  QuietErrorLog& operator=(const QuietErrorLog&) = delete;
};

// MzMLFile's parser, with the handler that MzMLFile::transform would use.
class Parser : public OpenMS::MzMLFile {
 public:
  void parse(const std::string& path, const OpenMS::PeakFileOptions& options,
             OpenMS::Interfaces::IMSDataConsumer& consumer) {
    std::lock_guard<std::mutex> lock(parse_mutex());
    OneOpenMPThread serial;
    QuietErrorLog quiet;
    try {
      OpenMS::PeakMap unused;  // the consumer takes every spectrum
      OpenMS::Internal::MzMLHandler handler(unused, path, getVersion(), *this);
      handler.setOptions(options);
      handler.setMSDataConsumer(&consumer);
      parse_(path, &handler);
    } catch (const OpenMS::Exception::BaseException& e) {
      throw refused(path, e);
    }
  }
};

// ---- consumers -------------------------------------------------------------

// A consumer of spectra only. What goes wrong while it handles a spectrum
// (an Error, a visitor's exception) ends the parse softly and is thrown
// again once OpenMS is done: no exception but OpenMS's own crosses its
// parser. The parse also ends once the consumer is done; OpenMS may still
// hand over the spectra it decoded before, which are ignored.
class SpectrumConsumer : public OpenMS::Interfaces::IMSDataConsumer {
 public:
  void consumeSpectrum(MSSpectrum& s) final {
    if (stopped_) return;
    try {
      take(s);
    } catch (...) {
      failure_ = std::current_exception();
    }
    if (failure_ || done()) {
      stopped_ = true;
      throw OpenMS::Internal::XMLHandler::EndParsingSoftly(__FILE__, __LINE__, __func__);
    }
  }
  void consumeChromatogram(OpenMS::MSChromatogram&) final {}
  void setExpectedSize(std::size_t, std::size_t) final {}
  void setExperimentalSettings(const OpenMS::ExperimentalSettings&) final {}

  // Parses the file with the options, then throws what the consumer met
  // (OpenMS's exceptions, from picking, as Errors).
  void run(const std::string& path, const OpenMS::PeakFileOptions& options) {
    Parser().parse(path, options, *this);
    if (!failure_) return;
    try {
      std::rethrow_exception(failure_);
    } catch (const OpenMS::Exception::BaseException& e) {
      throw refused(path, e);
    }
  }

 protected:
  virtual void take(MSSpectrum& s) = 0;
  virtual bool done() const { return false; }

 private:
  bool stopped_ = false;
  std::exception_ptr failure_;
};

// Whether a data array's name is that of a charge array ("charge array",
// "charge", "charge state", ...).
bool is_charge_array(const std::string& name) {
  std::string lower(name);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower.starts_with("charge");
}

bool has_charge_array(const MSSpectrum& s) {
  for (const auto& a : s.getIntegerDataArrays())
    if (is_charge_array(a.getName())) return true;
  for (const auto& a : s.getFloatDataArrays())
    if (is_charge_array(a.getName())) return true;
  return false;
}

// Why a spectrum's data processing makes it deconvoluted; empty when not.
std::string processing_reason(const MSSpectrum& s) {
  for (const auto& dp : s.getDataProcessing()) {
    if (!dp) continue;
    const auto& actions = dp->getProcessingActions();
    if (actions.count(OpenMS::DataProcessing::CHARGE_DECONVOLUTION))
      return "its data processing deconvoluted charges";
    if (actions.count(OpenMS::DataProcessing::DEISOTOPING)) return "its data processing deisotoped the peaks";
  }
  return {};
}

SpectrumInfo info_of(const MSSpectrum& s, std::size_t position) {
  SpectrumInfo info;
  info.native_id = s.getNativeID();
  info.position = position;
  info.ms_level = static_cast<int>(s.getMSLevel());
  info.rt_min = s.getRT() / 60.0;
  info.scan = scan_number(info.native_id);
  if (!s.getPrecursors().empty()) {
    const OpenMS::Precursor& p = s.getPrecursors().front();
    if (p.getMZ() > 0) info.precursor_mz = p.getMZ();
    info.isolation_lower = p.getIsolationWindowLowerOffset();
    info.isolation_upper = p.getIsolationWindowUpperOffset();
    if (p.metaValueExists("spectrum_ref")) info.precursor_ref = p.getMetaValue("spectrum_ref").toString();
  }
  return info;
}

// The index pass: every spectrum's SpectrumInfo, and the data processing's
// word on deconvolution.
class IndexConsumer : public SpectrumConsumer {
 public:
  std::vector<SpectrumInfo> spectra;
  std::string deconvoluted;

 protected:
  void take(MSSpectrum& s) override {
    spectra.push_back(info_of(s, spectra.size()));
    if (deconvoluted.empty()) deconvoluted = processing_reason(s);
  }
};

// The charge-array pass: spectra from the start of the file until one with
// peaks of each MS level of the run has been seen.
class ChargeConsumer : public SpectrumConsumer {
 public:
  explicit ChargeConsumer(std::set<int> levels) : unseen_(std::move(levels)) {}
  bool charged = false;

 protected:
  void take(MSSpectrum& s) override {
    if (has_charge_array(s)) charged = true;
    if (!s.empty()) unseen_.erase(static_cast<int>(s.getMSLevel()));
  }
  bool done() const override { return charged || unseen_.empty(); }

 private:
  std::set<int> unseen_;
};

// A spectrum's centroids: OpenMS's picking of a profile spectrum, the peaks
// of any other; points of no positive intensity dropped. The handler sorts
// each spectrum by m/z (PeakFileOptions::setSortSpectraByMZ), and picking
// keeps that order.
void centroid(const MSSpectrum& s, const OpenMS::PeakPickerHiRes& picker, Centroids& out) {
  out.mz.clear();
  out.intensity.clear();
  MSSpectrum picked;
  const bool profile = s.getType(true) == OpenMS::SpectrumSettings::PROFILE;
  if (profile) picker.pick(s, picked);
  const MSSpectrum& peaks = profile ? picked : s;
  for (const auto& p : peaks) {
    if (!(p.getIntensity() > 0) || !std::isfinite(p.getMZ())) continue;
    out.mz.push_back(p.getMZ());
    out.intensity.push_back(p.getIntensity());
  }
}

// The data pass. OpenMS hands over the spectra of the chosen MS levels in
// file order: the k-th of them is the k-th spectrum of those levels in the
// index.
class CentroidConsumer : public SpectrumConsumer {
 public:
  CentroidConsumer(const RunIndex& run, std::vector<std::size_t> candidates, const std::vector<std::size_t>& wanted,
                   const std::function<void(std::size_t, const Centroids&)>& visit)
      : run_(run), candidates_(std::move(candidates)), wanted_(wanted), visit_(visit) {}

  // Fails when the file ended before the last spectrum asked for.
  void check_complete() const {
    if (next_wanted_ < wanted_.size())
      throw Error::value("the run ended before spectrum " + py_repr(run_.spectra[wanted_[next_wanted_]].native_id) +
                         " of its index; the file changed since it was indexed")
          .at(run_.path);
  }

 protected:
  void take(MSSpectrum& s) override {
    if (seen_ >= candidates_.size()) throw changed(s);
    const std::size_t position = candidates_[seen_++];
    if (s.getNativeID() != run_.spectra[position].native_id) throw changed(s);
    if (position != wanted_[next_wanted_]) return;
    ++next_wanted_;
    centroid(s, picker_, centroids_);
    visit_(position, centroids_);
  }
  bool done() const override { return next_wanted_ == wanted_.size(); }

 private:
  Error changed(const MSSpectrum& s) const {
    return std::move(Error::value("the run's spectrum " + py_repr(s.getNativeID()) +
                                  " is not where its index has it; the file changed since it was indexed")
                         .at(run_.path));
  }

  const RunIndex& run_;
  std::vector<std::size_t> candidates_;
  const std::vector<std::size_t>& wanted_;
  const std::function<void(std::size_t, const Centroids&)>& visit_;
  OpenMS::PeakPickerHiRes picker_;
  Centroids centroids_;
  std::size_t seen_ = 0, next_wanted_ = 0;
};

// Positions must increase and lie in the index.
void check_positions(const RunIndex& run, const std::vector<std::size_t>& positions) {
  for (std::size_t i = 0; i < positions.size(); ++i) {
    if (positions[i] >= run.spectra.size())
      throw Error::value("spectrum position " + std::to_string(positions[i]) + " is beyond the run's " +
                         std::to_string(run.spectra.size()) + " spectra")
          .at(run.path);
    if (i > 0 && positions[i] <= positions[i - 1])
      throw Error::value("spectrum positions must increase: " + std::to_string(positions[i]) + " follows " +
                         std::to_string(positions[i - 1]))
          .at(run.path);
  }
}

std::string charge_reason(const std::string& path, const std::vector<SpectrumInfo>& spectra) {
  std::set<int> levels;
  for (const SpectrumInfo& s : spectra) levels.insert(s.ms_level);
  if (levels.empty()) return {};
  ChargeConsumer consumer(levels);
  OpenMS::PeakFileOptions options;
  options.setMaxDataPoolSize(1);  // each spectrum handed over at once, so that the pass ends early
  consumer.run(path, options);
  return consumer.charged ? "its spectra carry a charge array" : std::string();
}

}  // namespace

// ---- the index -------------------------------------------------------------

RunIndex make_run_index(std::string path, std::vector<SpectrumInfo> spectra, std::string deconvoluted) {
  RunIndex run;
  run.path = std::move(path);
  run.spectra = std::move(spectra);
  run.deconvoluted = std::move(deconvoluted);
  for (std::size_t i = 0; i < run.spectra.size(); ++i) {
    SpectrumInfo& s = run.spectra[i];
    s.position = i;
    run.ids_.emplace(s.native_id, i);
    if (s.scan) run.scans_.emplace(*s.scan, i);
    if (s.ms_level != 1) continue;
    run.ms1_.push_back(i);
    if (!std::isnan(s.rt_min)) run.ms1_rt_.emplace_back(s.rt_min, i);
  }
  std::sort(run.ms1_rt_.begin(), run.ms1_rt_.end());
  return run;
}

std::optional<std::size_t> RunIndex::by_native_id(std::string_view id) const {
  const auto it = ids_.find(std::string(id));
  return it == ids_.end() ? std::nullopt : std::optional<std::size_t>(it->second);
}

std::optional<std::size_t> RunIndex::by_scan(long scan) const {
  const auto it = scans_.find(scan);
  return it == scans_.end() ? std::nullopt : std::optional<std::size_t>(it->second);
}

std::optional<std::size_t> RunIndex::by_number(long one_based) const {
  if (one_based < 1 || static_cast<unsigned long>(one_based) > spectra.size()) return std::nullopt;
  return static_cast<std::size_t>(one_based - 1);
}

std::optional<std::size_t> RunIndex::precursor_ms1(std::size_t position) const {
  if (position >= spectra.size() || spectra[position].ms_level == 1) return std::nullopt;
  // Follows the references (an MS3 names its MS2, which names its MS1); a
  // cycle of references ends after as many steps as there are spectra.
  std::size_t at = position;
  for (std::size_t step = 0; step < spectra.size(); ++step) {
    const std::string& ref = spectra[at].precursor_ref;
    const std::optional<std::size_t> named = ref.empty() ? std::nullopt : by_native_id(ref);
    if (!named || *named == at) break;
    if (spectra[*named].ms_level == 1) return named;
    at = *named;
  }
  const auto after = std::upper_bound(ms1_.begin(), ms1_.end(), at);
  if (after == ms1_.begin()) return std::nullopt;
  return *std::prev(after);
}

std::optional<std::size_t> RunIndex::ms1_near(double rt_min) const {
  if (std::isnan(rt_min) || ms1_rt_.empty()) return std::nullopt;
  // The first at or after the time, and the earliest of the last time before it.
  const auto above = std::lower_bound(ms1_rt_.begin(), ms1_rt_.end(), std::make_pair(rt_min, std::size_t{0}));
  if (above == ms1_rt_.begin()) return above->second;
  const auto below = std::lower_bound(ms1_rt_.begin(), ms1_rt_.end(),
                                      std::make_pair(std::prev(above)->first, std::size_t{0}));
  if (above == ms1_rt_.end() || !(above->first - rt_min < rt_min - below->first)) return below->second;
  return above->second;
}

// ---- reading -----------------------------------------------------------------

RunIndex read_run_index(const std::string& path) {
  check_readable(path);
  IndexConsumer consumer;
  OpenMS::PeakFileOptions options;
  options.setFillData(false);
  consumer.run(path, options);
  std::string deconvoluted = std::move(consumer.deconvoluted);
  if (deconvoluted.empty()) deconvoluted = charge_reason(path, consumer.spectra);
  return make_run_index(path, std::move(consumer.spectra), std::move(deconvoluted));
}

void read_spectra(const RunIndex& run, const std::vector<std::size_t>& positions,
                  const std::function<void(std::size_t, const Centroids&)>& visit) {
  if (positions.empty()) return;
  check_positions(run, positions);
  std::set<int> levels;
  for (std::size_t p : positions) levels.insert(run.spectra[p].ms_level);
  std::vector<std::size_t> candidates;
  for (const SpectrumInfo& s : run.spectra)
    if (levels.count(s.ms_level)) candidates.push_back(s.position);
  check_readable(run.path);
  CentroidConsumer consumer(run, std::move(candidates), positions, visit);
  OpenMS::PeakFileOptions options;
  options.setMSLevels(std::vector<OpenMS::Int>(levels.begin(), levels.end()));
  options.setSortSpectraByMZ(true);
  consumer.run(run.path, options);
  consumer.check_complete();
}

}  // namespace isotope
