// The benchmark program. Besides Google Benchmark's own report, --figures=FILE writes one line per
// figure, "name value": ratios are the case's throughput over its reference's, both from this run.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "bench_support.h"

namespace zul::bench {
void RegisterArrayBenchmarks();
void RegisterStringBenchmarks();

namespace {

struct Measured {
  double nsPerIteration = NAN;  // CPU time of the one thread: other processes' load stays out
  double perSecond = NAN;       // iterations (summed over threads) over real time
  std::map<std::string, double> counters;
};

// Keeps what each run measured while the console shows it.
class FigureReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred || run.run_type != Run::RT_Iteration || run.iterations == 0) continue;
      Measured& m = measured_[run.benchmark_name()];
      m.nsPerIteration = run.cpu_accumulated_time * 1e9 / static_cast<double>(run.iterations);
      m.perSecond = static_cast<double>(run.iterations) / run.real_accumulated_time;
      for (const auto& [name, counter] : run.counters) m.counters[name] = counter.value;
    }
  }

  double Ns(const std::string& name) const { return Find(name).nsPerIteration; }
  double PerSecond(const std::string& name) const { return Find(name).perSecond; }
  double Counter(const std::string& name, const std::string& counter) const {
    const Measured& m = Find(name);
    const auto it = m.counters.find(counter);
    return it == m.counters.end() ? NAN : it->second;
  }

 private:
  const Measured& Find(const std::string& name) const {
    static const Measured none;
    const auto it = measured_.find(name);
    return it == measured_.end() ? none : it->second;
  }
  std::map<std::string, Measured> measured_;
};

void WriteFigures(const FigureReporter& r, std::FILE* out) {
  auto line = [out](const std::string& name, double value) {
    if (!std::isnan(value)) std::fprintf(out, "%s %.4g\n", name.c_str(), value);
  };
  // Calls: the export against the bridge entries that it makes, called directly.
  line("call0_overhead_ns", r.Ns("BM_Call0") - r.Ns("BM_CallDirectTransaction"));
  line("call0_vs_single_entry_ns", r.Ns("BM_Call0") - r.Ns("BM_CallDirect"));
  line("call0_null_bridge_overhead_ns",
       r.Ns("BM_Call0NullBridge") - r.Ns("BM_CallNullBridgeDirectTransaction"));
  line("call0_heap_allocs", r.Counter("BM_Call0NullBridge", "heap_allocs"));
  line("call4_null_bridge_overhead_ns",
       r.Ns("BM_Call4NullBridge") - r.Ns("BM_CallNullBridgeDirectTransaction"));
  line("call4_heap_allocs", r.Counter("BM_Call4NullBridge", "heap_allocs"));
  line("call4_by_reference_null_bridge_ns", r.Ns("BM_Call4ByReferenceNullBridge/0"));
  line("call4_by_reference_if_changed_null_bridge_ns", r.Ns("BM_Call4ByReferenceNullBridge/1"));
  line("getproperty_overhead_ns", r.Ns("BM_GetProperty") - r.Ns("BM_GetPropertyDirectTransaction"));
  line("getlasterror_ns", r.Ns("BM_GetLastError"));
  line("getlasterror_direct_ns", r.Ns("BM_GetLastErrorDirect"));

  auto ratio = [&](const std::string& name, const std::string& of, const std::string& reference) {
    line(name, r.Counter(of, "bytes_per_second") / r.Counter(reference, "bytes_per_second"));
  };
  for (const char* size : {"1KiB", "1MiB", "64MiB"}) {
    const std::string s = std::string("/1d_") + size;
    for (const char* way : {"in", "out"}) {
      const std::string op = std::string(way[0] == 'i' ? "ArrayIn" : "ArrayOut") + s;
      const std::string figure = std::string("array_") + way + "_1d_" + size;
      ratio(figure + "_vs_memcpy", op, "Memcpy" + s);
      ratio(figure + "_vs_alloc_memcpy", op, "AllocMemcpy" + s);
    }
  }
  const std::pair<const char*, const char*> shapes[] = {
      {"2d_4096_f64", "2d_4096_f64"},           {"2d_1000x3000_f64", "2d_1000x3000_f64"},
      {"2d_3x1000000_f64", "2d_3x1000000_f64"}, {"3d_256_f64", "3d_256_f64"},
      {"2d_4096_i32", "2d_4096_i32"},           {"2d_4096_u8", "2d_4096_u8"},
      {"3d_9x2x60000_f64", "3d_9x2x60000_f64"}};
  for (const auto& [figure, bench] : shapes) {
    const std::string s = std::string("/") + bench;
    for (const char* way : {"in", "out"}) {
      const bool in = way[0] == 'i';
      const std::string walk = (in ? "WalkIn" : "WalkOut") + s;
      const std::string f = std::string("reorder_") + way + "_" + figure;
      ratio(f + "_vs_memcpy", walk, "Memcpy" + s);
      ratio(f + "_vs_naive", walk, (in ? "NaiveWalkIn" : "NaiveWalkOut") + s);
      ratio(f + "_vs_previous_walk", walk, (in ? "VisitWalkIn" : "VisitWalkOut") + s);
      const std::string op = (in ? "ReorderIn" : "ReorderOut") + s;
      ratio(f + "_conversion_vs_memcpy", op, "Memcpy" + s);
      ratio(f + "_conversion_vs_alloc_memcpy", op, "AllocMemcpy" + s);
    }
  }
  auto items = [&](const std::string& name, const std::string& of, const std::string& reference) {
    line(name, r.Counter(of, "items_per_second") / r.Counter(reference, "items_per_second"));
  };
  items("strings_in_vs_plain_loop", "StringsIn/100000", "PlainUtf16ToUtf8/100000");
  items("strings_in_null_bridge_vs_plain_loop", "StringsInNullBridge/100000", "PlainUtf16ToUtf8/100000");
  // What the blocks alone cost, as a share of the conversion's time.
  line("strings_in_block_share", r.Ns("StringBlocks/100000") / r.Ns("StringsIn/100000"));
  line("strings_in_null_bridge_block_share",
       r.Ns("StringBlocksNullBridge/100000") / r.Ns("StringsInNullBridge/100000"));
  items("strings_out_vs_plain_loop", "StringsOut/100000", "PlainUtf8ToUtf16/100000");

  // The library's scaling is measured over the null bridge: the reference bridge lets one thread at a
  // time into a ZUL process, which its direct calls show; its figures follow under their own names.
  const std::pair<const char*, const char*> families[] = {
      {"BM_ThreadsSeparateNullBridge", "threads"},
      {"BM_ThreadsSharedNullBridge", "shared"},
      {"BM_ThreadsSeparate", "threads_with_bridge"},
      {"BM_ThreadsShared", "shared_with_bridge"},
      {"BM_ThreadsSeparateDirect", "threads_bridge_direct"}};
  for (const auto& [family, prefix] : families) {
    const std::string base = std::string(family) + "/min_time:1.000/real_time/threads:";
    const double one = r.PerSecond(base + "1");
    line(std::string(prefix) + "1_calls_per_second", one);
    for (const char* n : {"2", "4"}) {
      line(std::string(prefix) + n + "_vs_threads1", r.PerSecond(base + n) / one);
    }
  }
}

}  // namespace
}  // namespace zul::bench

int main(int argc, char** argv) {
  std::string figuresFile;
  int kept = 0;
  for (int i = 0; i < argc; ++i) {
    if (std::strncmp(argv[i], "--figures=", 10) == 0) {
      figuresFile = argv[i] + 10;
    } else {
      argv[kept++] = argv[i];
    }
  }
  argc = kept;
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  if (!zul::bench::BindBridge()) return 1;
  zul::bench::RegisterArrayBenchmarks();
  zul::bench::RegisterStringBenchmarks();

  zul::bench::FigureReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  if (!figuresFile.empty()) {
    std::FILE* out = std::fopen(figuresFile.c_str(), "w");
    if (out == nullptr) return 1;
    zul::bench::WriteFigures(reporter, out);
    std::fclose(out);
  }
  benchmark::Shutdown();
  return 0;
}
