// JSON object timings under the real Script Control: what one refresh of
// the tool costs (Parse of a service reply and one GetJson), beside what
// restarting the control and loading the prelude alone would cost; then a
// 1 MB reply, the validator's share, and the memory a refresh's JSON work
// leaves behind beside raw COM doing the same work. Prints figures only.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "json/json_object.h"
#include "json/json_validate.h"
#include "runtime/core/image.h"
#include "program/program_calls.h"
#include "app/process_figures.h"
#include "tests/support/program_setup.h"

namespace {

using Clock = std::chrono::steady_clock;

template <typename Fn>
std::vector<double> TimeEach(int cycles, Fn fn) {
  std::vector<double> ms;
  ms.reserve(cycles);
  for (int i = 0; i < cycles; ++i) {
    auto start = Clock::now();
    fn();
    ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  }
  std::sort(ms.begin(), ms.end());
  return ms;
}

void Report(const char* what, const std::vector<double>& ms) {
  double total = 0;
  for (double m : ms) total += m;
  std::printf("%-44s n=%-5zu median %8.3f ms  p99 %8.3f ms  mean %8.3f ms\n", what, ms.size(),
              ms[ms.size() / 2], ms[ms.size() * 99 / 100], total / ms.size());
}

// What an idle message loop would run between two refreshes: the JSON
// object starts its next engine on a thread timer of 10 ms.
void Idle() {
  Sleep(11);
  MSG m;
  while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
}

// The raw-COM baseline: the script control driven directly through
// IDispatch, no Runtime in between.
struct RawControl {
  IDispatch* d = nullptr;
  RawControl() {
    CLSID c;
    if (SUCCEEDED(CLSIDFromProgID(L"MSScriptControl.ScriptControl", &c)))
      CoCreateInstance(c, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, reinterpret_cast<void**>(&d));
    if (d) Call(L"Language", "JavaScript", DISPATCH_PROPERTYPUT);
  }
  ~RawControl() {
    if (d) d->Release();
  }
  void Call(const wchar_t* name, const std::string& text, WORD kind = DISPATCH_METHOD) {
    if (!d) return;
    DISPID id;
    LPOLESTR n = const_cast<LPOLESTR>(name);
    if (FAILED(d->GetIDsOfNames(IID_NULL, &n, 1, 0, &id))) return;
    std::wstring wide(text.begin(), text.end());
    VARIANT arg, answer;
    arg.vt = VT_BSTR;
    arg.bstrVal = SysAllocString(wide.c_str());
    VariantInit(&answer);
    DISPID put = DISPID_PROPERTYPUT;
    DISPPARAMS p{&arg, kind == DISPATCH_PROPERTYPUT ? &put : nullptr, 1, kind == DISPATCH_PROPERTYPUT ? 1u : 0u};
    d->Invoke(id, IID_NULL, 0, kind, &p, &answer, nullptr, nullptr);
    VariantClear(&answer);
    SysFreeString(arg.bstrVal);
  }
};

template <typename Fn>
double BytesPer(int cycles, Fn fn) {
  fn();
  const unsigned long before = testsupport::PrivateBytes();
  for (int i = 0; i < cycles; ++i) fn();
  return (static_cast<double>(testsupport::PrivateBytes()) - before) / cycles;
}

}  // namespace

int main() {
  testsupport::LoadProgramDllTable();
  const char* reply = "{\"sysTime2\":\"2019-10-17 21:29:38\",\"sysTime1\":\"20191017212938\"}";
  json::JsonObject* o = json::NewJsonObject();
  const int kCycles = 1000;

  // What a refresh asks of the object (Parse, one GetJson), idle time
  // between refreshes as in the tool, beside what the restart that Parse
  // requires would cost on its own (a control started with the prelude).
  std::vector<double> restart, refresh;
  rt::ComObjectCell cell{};
  const rt::ArgRecord engine = rt::PtrArg(rt::kComObject, &cell);
  for (int i = 0; i < kCycles; ++i) {
    Idle();
    restart.push_back(TimeEach(1, [&] {
      prog::Call(rt::ClearObject, {engine});
      prog::Call(rt::CreateObject, {engine, rt::TextArg("MSScriptControl.ScriptControl"), rt::OmittedArg()});
      prog::Call(rt::SetObjectProperty, {engine, rt::TextArg("Language"), rt::TextArg("JavaScript")});
      prog::Call(rt::CallMethodNumber, {engine, rt::TextArg("AddCode"), rt::TextArg(json::kJsonPrelude)});
    })[0]);
    refresh.push_back(TimeEach(1, [&] {
      json::Parse(o, reply);
      prog::Free(json::GetJson(o, "sysTime2"));
    })[0]);
  }
  prog::Call(rt::ClearObject, {engine});
  std::sort(restart.begin(), restart.end());
  std::sort(refresh.begin(), refresh.end());
  Report("restart control + load prelude (baseline)", restart);
  Report("Parse + GetJson (one refresh)", refresh);
  Report("validator on the service reply", TimeEach(kCycles, [&] { json::IsSafeJson(reply); }));

  // Memory per refresh's JSON work, beside raw COM doing the same: a new
  // control with the prelude and the root, the root set from the reply by
  // statements, one Eval of the member; and raw COM's one Eval alone.
  const unsigned long handles_before = testsupport::OpenHandles();
  const int kMemoryCycles = 2000;
  const double ours = BytesPer(kMemoryCycles, [&] {
    Idle();
    json::Parse(o, reply);
    prog::Free(json::GetJson(o, "sysTime2"));
  });
  const std::string root_from_reply = std::string("var da=(") + reply + ")";
  const double raw = BytesPer(kMemoryCycles, [&] {
    RawControl c;
    c.Call(L"AddCode", json::kJsonPrelude);
    c.Call(L"ExecuteStatement", "var da={}");
    c.Call(L"ExecuteStatement", "var da=null");
    c.Call(L"AddCode", root_from_reply);
    c.Call(L"Eval", "JSON.stringify(da.sysTime2)");
  });
  RawControl kept;
  kept.Call(L"AddCode", json::kJsonPrelude);
  kept.Call(L"AddCode", root_from_reply);
  const double one_eval = BytesPer(kMemoryCycles, [&] { kept.Call(L"Eval", "JSON.stringify(da.sysTime2)"); });
  const double one_statement =
      BytesPer(kMemoryCycles, [&] { kept.Call(L"ExecuteStatement", "da.x=JSON.stringify(da.sysTime2)"); });
  std::printf("private bytes per Parse+GetJson: %+.0f B; raw COM, same work: %+.0f B; "
              "raw COM, one Eval: %+.0f B; one statement: %+.0f B; handles %lu -> %lu\n",
              ours, raw, one_eval, one_statement, handles_before, testsupport::OpenHandles());
  // Each step on its own, through the Runtime and through raw COM.
  {
    rt::ComObjectCell kept_cell{};
    const rt::ArgRecord k = rt::PtrArg(rt::kComObject, &kept_cell);
    auto start = [&](rt::ArgRecord e) {
      prog::Call(rt::CreateObject, {e, rt::TextArg("MSScriptControl.ScriptControl"), rt::OmittedArg()});
      prog::Call(rt::SetObjectProperty, {e, rt::TextArg("Language"), rt::TextArg("JavaScript")});
      prog::Call(rt::CallMethodNumber, {e, rt::TextArg("AddCode"), rt::TextArg(json::kJsonPrelude)});
    };
    start(k);
    prog::Call(rt::CallMethod, {k, rt::TextArg("AddCode"), rt::TextArg(root_from_reply.c_str())});
    struct Step {
      const char* what;
      double runtime, raw;
    } steps[] = {
        {"control started with the prelude, released",
         BytesPer(500, [&] { start(engine); prog::Call(rt::ClearObject, {engine}); }),
         BytesPer(500, [&] { RawControl c; c.Call(L"AddCode", json::kJsonPrelude); })},
        {"Eval of the member, kept control",
         BytesPer(kMemoryCycles, [&] {
           prog::Free(prog::TakeText(prog::Call(rt::CallMethodText, {k, rt::TextArg("Eval"),
                                                                    rt::TextArg("JSON.stringify(da.sysTime2)")})).release());
         }),
         one_eval},
        {"read through the answer host, kept control",
         [&] {
           rt::ComObjectCell host{};
           const rt::ArgRecord h = rt::PtrArg(rt::kComObject, &host);
           prog::Call(rt::CreateAnswerHost, {h});
           prog::Call(rt::CallMethod, {k, rt::TextArg("AddObject"), rt::TextArg("__answer"), h, rt::BoolArg(false)});
           const double b = BytesPer(kMemoryCycles, [&] {
             prog::Call(rt::CallMethod, {k, rt::TextArg("ExecuteStatement"),
                                         rt::TextArg("__answer.put(JSON.stringify(da.sysTime2))")});
             prog::Free(prog::TakeText(prog::Call(rt::CallMethodText, {h, rt::TextArg("take")})).release());
           });
           prog::Call(rt::ClearObject, {h});
           return b;
         }(),
         one_statement},
        {"ExecuteStatement, kept control",
         BytesPer(kMemoryCycles, [&] {
           prog::Call(rt::CallMethod, {k, rt::TextArg("ExecuteStatement"), rt::TextArg("da.x=JSON.stringify(da.sysTime2)")});
         }),
         one_statement},
        {"AddCode of the root, kept control",
         BytesPer(kMemoryCycles, [&] {
           prog::Call(rt::CallMethod, {k, rt::TextArg("AddCode"), rt::TextArg(root_from_reply.c_str())});
         }),
         BytesPer(kMemoryCycles, [&] { kept.Call(L"AddCode", root_from_reply); })},
    };
    for (const Step& st : steps)
      std::printf("  %-46s Runtime %+7.0f B   raw COM %+7.0f B\n", st.what, st.runtime, st.raw);
    prog::Call(rt::ClearObject, {k});
  }

  // About 1 MB: an array of small records.
  std::string big = "[";
  for (int i = 0; big.size() < (1u << 20); ++i)
    big += (i ? "," : "") + std::string("{\"id\":") + std::to_string(i) +
           ",\"name\":\"item number " + std::to_string(i) + "\",\"ok\":true,\"v\":[1.5,2,3]}";
  big += "]";
  std::printf("1 MB reply: %zu bytes\n", big.size());
  Report("validator on 1 MB", TimeEach(20, [&] { json::IsSafeJson(big.c_str()); }));
  bool parsed = false;
  Report("Parse of 1 MB", TimeEach(10, [&] { parsed = json::Parse(o, big.c_str()); }));
  std::printf("1 MB parsed: %s, Count %d\n", parsed ? "yes" : "no", json::Count(o, ""));

  json::DeleteJsonObject(o);
  return 0;
}
