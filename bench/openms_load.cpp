// The reference the run reader is compared with: OpenMS's own loading of a
// whole mzML file into an MSExperiment. Prints the spectra and peaks read,
// the wall-clock seconds of the load and the peak resident memory.
//
// Usage: openms_load RUN.mzML
#include <OpenMS/FORMAT/MzMLFile.h>
#include <OpenMS/KERNEL/MSExperiment.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <exception>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: openms_load RUN.mzML\n");
    return 2;
  }
  try {
    const auto start = std::chrono::steady_clock::now();
    OpenMS::PeakMap run;
    OpenMS::MzMLFile().load(argv[1], run);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    unsigned long long peaks = 0;
    for (const auto& spectrum : run) peaks += spectrum.size();
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("spectra %zu peaks %llu seconds %.3f peak_rss_mib %.1f\n", run.size(), peaks, took.count(), usage.ru_maxrss / 1024.0);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "openms_load: %s\n", e.what());
    return 1;
  }
  return 0;
}
