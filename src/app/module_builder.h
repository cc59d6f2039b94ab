// Building a module of the model application: one call per module, the same
// handling of failures for every module.
#pragma once

#include <memory>
#include <new>
#include <utility>

#include "framework/diagnostics.h"

namespace velmo {

// Code of any exception of the special output's construction that is no code.
inline constexpr int kSpecialOutputErrorCode = 104;

struct module_build_options {
  // Code for an exception that is no code (a library's exception).
  int other_failure = kUnexpectedErrorCode;
  // False for a module that is set ready only once it is linked: the caller
  // calls SetReady(1) after the links.
  bool set_ready = true;
};

// Builds a module with `make` (a callable returning std::unique_ptr<Module>),
// sets it ready and stores it in `member`. A thrown code passes unchanged: the
// module has logged its entry, and the application's handler adds its own
// line. So does a failed allocation (std::bad_alloc), which the application
// reports naming the module it was building. Any other exception becomes
// `options.other_failure`, without an entry of its own. On failure `member` is
// left as it was.
template <typename Module, typename Make>
Module& BuildModule(std::unique_ptr<Module>& member, Make&& make, module_build_options options = {}) {
  std::unique_ptr<Module> module;
  try {
    module = std::forward<Make>(make)();
  } catch (ErrorCode) {
    throw;
  } catch (const std::bad_alloc&) {
    throw;
  } catch (...) {
    throw ErrorCode{options.other_failure};
  }
  if (options.set_ready) module->SetReady(1);
  member = std::move(module);
  return *member;
}

// For calls that hand their code back through an `int&` argument
// (teilmodellklasse::SetUpTracers): throws the code when it is not 0.
inline void ThrowHandedBackCode(int error) {
  if (error != 0) throw ErrorCode{error};
}

// For the constructors that hand their code back through a leading `int&`
// argument (the set-up object, the tracer description): builds the object and
// throws that code when it is not 0.
template <typename Module, typename... Args>
std::unique_ptr<Module> MakeHandingBackCode(Args&&... args) {
  int error = 0;
  auto module = std::make_unique<Module>(error, std::forward<Args>(args)...);
  ThrowHandedBackCode(error);
  return module;
}

}  // namespace velmo
