// Text command throughput on 1, 8 and 64 MB GBK texts, each beside a plain
// std::string baseline doing the same work, and ToDateTime parses per
// second. After the runs a summary prints, per command, the growth factor
// from 1 to 64 MB (64 is linear) and the ratio to the baseline per size.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "runtime/core/commands.h"
#include "runtime/core/gbk_text.h"
#include "tests/support/command_call.h"
#include "runtime/core/memory.h"

namespace {

using rt::ArgRecord;

// A header-like GBK text of about mb megabytes. "#needle#" sits only at the
// very end and "#first#" only at the start, so forward searches for the one
// and backward searches for the other walk it all.
const std::string& Corpus(int mb) {
  static std::map<int, std::string> texts;
  std::string& t = texts[mb];
  if (t.empty()) {
    const std::string unit = "key=value,\xD6\xD0\xCE\xC4\xD7\xD6,Accept: */*,";  // 32 bytes
    const size_t want = static_cast<size_t>(mb) << 20;
    t.reserve(want + 16);
    t = "#first#";
    while (t.size() + unit.size() <= want) t += unit;
    t += "#needle#";
  }
  return t;
}

// The same text as a Runtime text block, made once per size.
const char* CorpusBlock(int mb) {
  static std::map<int, char*> blocks;
  char*& b = blocks[mb];
  if (!b) b = rt::CopyText(Corpus(mb).c_str());
  return b;
}

constexpr auto& Run = testsupport::CallCommand;

void SetBytes(benchmark::State& state) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * (state.range(0) << 20));
}

void FindRt(benchmark::State& state) {
  const char* text = CorpusBlock(static_cast<int>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(Run(rt::FindText, {rt::TextArg(text), rt::TextArg("#needle#")}));
  SetBytes(state);
}
void FindStd(benchmark::State& state) {
  const std::string& text = Corpus(static_cast<int>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(text.find("#needle#"));
  SetBytes(state);
}
void FindReverseRt(benchmark::State& state) {
  const char* text = CorpusBlock(static_cast<int>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(Run(rt::FindTextReverse, {rt::TextArg(text), rt::TextArg("#first#")}));
  SetBytes(state);
}
void FindReverseStd(benchmark::State& state) {
  const std::string& text = Corpus(static_cast<int>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(text.rfind("#first#"));
  SetBytes(state);
}
void ReplaceRt(benchmark::State& state) {
  const char* text = CorpusBlock(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    ArgRecord r = Run(rt::ReplaceSubtext, {rt::TextArg(text), rt::TextArg("value"), rt::TextArg("v"),
                                           rt::OmittedArg(), rt::OmittedArg(), rt::BoolArg(true)});
    rt::FreeBlock(rt::AsPtr<char>(r));
  }
  SetBytes(state);
}
void ReplaceStd(benchmark::State& state) {
  const std::string& text = Corpus(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    std::string out;
    out.reserve(text.size());
    size_t from = 0;
    for (size_t at; (at = text.find("value", from)) != std::string::npos; from = at + 5) {
      out.append(text, from, at - from);
      out += "v";
    }
    out.append(text, from, std::string::npos);
    benchmark::DoNotOptimize(out.data());
  }
  SetBytes(state);
}
void SplitRt(benchmark::State& state) {
  const char* text = CorpusBlock(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    ArgRecord r = Run(rt::SplitText, {rt::TextArg(text), rt::TextArg(",")});
    rt::FreeTextArray(rt::AsPtr<rt::ArrayBlock>(r));
  }
  SetBytes(state);
}
void SplitStd(benchmark::State& state) {
  const std::string& text = Corpus(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    std::vector<std::string> pieces;
    size_t from = 0;
    for (size_t at; (at = text.find(',', from)) != std::string::npos; from = at + 1)
      pieces.emplace_back(text, from, at - from);
    if (from < text.size()) pieces.emplace_back(text, from, std::string::npos);
    benchmark::DoNotOptimize(pieces.data());
  }
  SetBytes(state);
}

// The same split with every piece in a heap block of its own, as the
// Runtime's texts are (std::string keeps pieces this short inside itself).
void SplitMalloc(benchmark::State& state) {
  const std::string& text = Corpus(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    std::vector<char*> pieces;
    auto keep = [&](size_t from, size_t n) {
      char* p = static_cast<char*>(std::malloc(n + 1));
      std::memcpy(p, text.data() + from, n);
      p[n] = '\0';
      pieces.push_back(p);
    };
    size_t from = 0;
    for (size_t at; (at = text.find(',', from)) != std::string::npos; from = at + 1) keep(from, at - from);
    if (from < text.size()) keep(from, text.size() - from);
    benchmark::DoNotOptimize(pieces.data());
    for (char* p : pieces) std::free(p);
  }
  SetBytes(state);
}

void ParseDates(benchmark::State& state) {
  const char* texts[] = {"2019-10-17 12:33:29", "2019" GBK_YEAR "10" GBK_MONTH "17" GBK_DAY "12" GBK_HOUR "33" GBK_MINUTE "29" GBK_SECOND, "2000/2/29",
                         "\xA3\xB2\xA3\xB0\xA3\xB1\xA3\xB9\xA3\xAD\xA3\xB1\xA3\xB0\xA3\xAD\xA3\xB1\xA3\xB7",
                         "2019-10-17T12:33:29"};
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(Run(rt::ToDateTime, {rt::TextArg(texts[i])}));
    i = (i + 1) % 5;
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

// Console output as usual, plus the growth and ratio summary at the end.
class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      const std::string& size = run.run_name.args;  // e.g. FindText/rt with 8
      if (run.run_type != Run::RT_Iteration || size.empty() ||
          size.find_first_not_of("0123456789") != std::string::npos)
        continue;
      times_[run.run_name.function_name][std::stoi(size)] = run.GetAdjustedRealTime();
    }
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    std::printf("\n%-16s %10s %10s %10s %10s\n", "command", "growth", "ratio@1MB", "ratio@8MB",
                "ratio@64MB");
    for (const char* op : {"FindText", "FindTextReverse", "ReplaceSubtext", "SplitText"}) {
      auto& rt_times = times_[std::string(op) + "/rt"];
      auto& std_times = times_[std::string(op) + "/std"];
      if (rt_times.count(1) == 0 || rt_times.count(64) == 0) continue;
      std::printf("%-16s %10.1f", op, rt_times[64] / rt_times[1]);
      for (int mb : {1, 8, 64})
        std::printf(" %10.2f", std_times[mb] > 0 ? rt_times[mb] / std_times[mb] : 0.0);
      std::printf("\n");
    }
    std::printf("(growth: time at 64 MB over time at 1 MB, 64 is linear; ratio: Runtime over std::string)\n");
    auto& split = times_["SplitText/rt"];
    auto& heap = times_["SplitText/malloc"];
    if (heap.count(1) && heap.count(8))
      std::printf("SplitText over a split with a malloc'd block per piece: %.2f at 1 MB, %.2f at 8 MB\n",
                  split[1] / heap[1], split[8] / heap[8]);
  }

 private:
  std::map<std::string, std::map<int, double>> times_;
};

void Register(const char* name, void (*fn)(benchmark::State&)) {
  benchmark::RegisterBenchmark(name, fn)->Arg(1)->Arg(8)->Arg(64)->Unit(benchmark::kMillisecond)->MinTime(0.3);
}

}  // namespace

int main(int argc, char** argv) {
  Register("FindText/rt", FindRt);
  Register("FindText/std", FindStd);
  Register("FindTextReverse/rt", FindReverseRt);
  Register("FindTextReverse/std", FindReverseStd);
  Register("ReplaceSubtext/rt", ReplaceRt);
  Register("ReplaceSubtext/std", ReplaceStd);
  Register("SplitText/rt", SplitRt);
  Register("SplitText/std", SplitStd);
  Register("SplitText/malloc", SplitMalloc);
  benchmark::RegisterBenchmark("ToDateTime/parse", ParseDates);
  benchmark::Initialize(&argc, argv);
  SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
