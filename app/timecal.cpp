// The application's routines. Each step follows the order the tool's
// behaviour depends on (for example: the PC time is taken and shown before
// the network request starts). Nothing is checked: failures show up as
// empty values and, in the service box, as 100年1月1日.
#include "app/timecal.h"

#include "json/json_object.h"
#include "runtime/core/commands.h"
#include "runtime/core/image.h"
#include "program/program_calls.h"
#include "program/program_support.h"
#include "web/codepage.h"
#include "web/web_request.h"

namespace {

using prog::OwnedText;
using rt::TextArg;

json::JsonObject* g_json = nullptr;  // the one global JsonObject

// A Text argument never passes null: the empty constant stands in.
rt::ArgRecord TextOf(const OwnedText& t) { return TextArg(t.get() ? t.get() : app::EmptyText()); }

uint64_t TextValue(const OwnedText& t) { return TextOf(t).value; }

}  // namespace

namespace app {
ProbeSeams g_probe = {nullptr, nullptr, nullptr};
}

extern "C" int ProgramEntry(void) {
  prog::Service(rt::kServiceLoadProgramImage);
  g_json = json::NewJsonObject();
  prog::Service(rt::kServiceRegisterEndRoutine, reinterpret_cast<intptr_t>(&ReleaseGlobalJson));
  // The program's global-variable initialiser has nothing to set.
  prog::LoadStartupWindow(app::kMainWindow);
  prog::RunMessageLoop();
  return 0;
}

extern "C" void OnMainWindowCreated(void) {
  RefreshTimes();
  if (app::g_probe.after_created) app::g_probe.after_created();
}

extern "C" void RefreshTimes(void) {
  // The PC time, taken and shown before the request starts.
  rt::ArgRecord now = prog::Call(rt::GetCurrentDateTime, {});
  {
    OwnedText shown = prog::TakeText(prog::Call(rt::ToText, {now}));
    prog::WriteProperty(app::kMainWindow, app::kPcTimeBox, app::kEditBoxContent, app::kWholeProperty,
                        TextValue(shown));
  }
  // Fetch, convert from UTF-8, parse into the global object.
  OwnedText reply = web::WebGetText(app::TimeServiceUrl());
  OwnedText converted = web::Utf8ToAnsi(reply);
  reply.reset();
  g_json->methods->parse(g_json, converted.get() ? converted.get() : app::EmptyText());
  converted.reset();
  // The member's JSON text, without its enclosing quotes. One read serves
  // both the text and its length: a second read gives the same text.
  OwnedText member(g_json->methods->get_json(g_json, app::MemberKey()));
  int32_t n = rt::AsInt(prog::Call(rt::TextLengthCmd, {TextOf(member)}));
  auto inner = static_cast<int32_t>(prog::TruncateToInt64(static_cast<double>(n) - 2.0));
  OwnedText middle =
      prog::TakeText(prog::Call(rt::MidText, {TextOf(member), rt::IntArg(2), rt::IntArg(inner)}));
  member.reset();
  // Parse, format and show the service time.
  rt::ArgRecord when = prog::Call(rt::ToDateTime, {TextOf(middle)});
  middle.reset();
  OwnedText shown = prog::TakeText(prog::Call(rt::ToText, {when}));
  prog::WriteProperty(app::kMainWindow, app::kServiceTimeBox, app::kEditBoxContent, app::kWholeProperty,
                      TextValue(shown));
  if (app::g_probe.after_refresh) app::g_probe.after_refresh();
}

extern "C" void OnCalibrateClicked(void) {
  OwnedText shown(reinterpret_cast<char*>(static_cast<uintptr_t>(prog::ReadProperty(
      app::kMainWindow, app::kServiceTimeBox, app::kEditBoxContent, app::kWholeProperty))));
  rt::ArgRecord when = prog::Call(rt::ToDateTime, {TextOf(shown)});
  // The success flag is not shown: the tool reports nothing either way.
  prog::Call(rt::SetCurrentDateTime, {when});
}

extern "C" void ReleaseGlobalJson(void) {
  if (app::g_probe.on_release) app::g_probe.on_release();
  // Destroy through the class's method table, then free the object's block.
  g_json->methods->destroy(g_json);
  prog::Free(g_json);
  g_json = nullptr;
}
