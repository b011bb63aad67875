// Turns the fatal path into an exception for one check: the box's exact text and code.
#pragma once

#include <string>

#include "runtime/core/fatal.h"

struct FatalCaught { std::string text; int code; };

struct FatalTrap {
  [[noreturn]] static void Throw(const std::string& text, int code) { throw FatalCaught{text, code}; }
  const rt::FatalSink previous = rt::SetFatalSink(&Throw);
  ~FatalTrap() { rt::SetFatalSink(previous), rt::ResetFailureCountForImageLoad(); }
};

// The code a call dies with on the fatal path (its text into *text), or -1.
template <class F>
int FatalCode(F call, std::string* text = nullptr) {
  FatalTrap trap;
  try {
    return call(), -1;
  } catch (const FatalCaught& f) {
    if (text) *text = f.text;
    return f.code;
  }
}
