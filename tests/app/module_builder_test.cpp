// Building a module into its slot: codes pass, other exceptions become the
// module's code, the slot changes only on success.
#include "app/module_builder.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <new>
#include <stdexcept>

namespace velmo {
namespace {

struct fake_module {
  explicit fake_module(int id_in) : id(id_in) {}
  void SetReady(int flag) { ready = flag; }
  int id = 0;
  int ready = 0;
};

// The exception itself passes on.
constexpr int kPassesOn = -1;

TEST(ModuleBuilder, FailuresBecomeCodesAndLeaveTheSlot) {
  struct Case {
    const char* what;
    std::function<std::unique_ptr<fake_module>()> make;
    module_build_options options;
    int code;  // 0: built
  };
  const Case cases[] = {
      {"built and ready", [] { return std::make_unique<fake_module>(2); }, {}, 0},
      {"built, ready later", [] { return std::make_unique<fake_module>(2); }, {.set_ready = false}, 0},
      {"a thrown code passes", []() -> std::unique_ptr<fake_module> { throw ErrorCode{17}; }, {}, 17},
      {"allocation failure: the caller names the module",
       []() -> std::unique_ptr<fake_module> { throw std::bad_alloc(); },
       {},
       kPassesOn},
      {"special output",
       []() -> std::unique_ptr<fake_module> { throw std::runtime_error("x"); },
       {.other_failure = kSpecialOutputErrorCode},
       104},
      {"anything else", []() -> std::unique_ptr<fake_module> { throw 2.5; }, {}, 103},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto slot = std::make_unique<fake_module>(1);
    if (c.code == 0) {
      fake_module& built = BuildModule(slot, c.make, c.options);
      EXPECT_EQ(&built, slot.get());
      EXPECT_EQ(slot->id, 2);
      EXPECT_EQ(slot->ready, c.options.set_ready ? 1 : 0);
      continue;
    }
    try {
      BuildModule(slot, c.make, c.options);
      ADD_FAILURE() << "no code thrown";
    } catch (ErrorCode code) {
      EXPECT_EQ(code, c.code);
    } catch (const std::bad_alloc&) {
      EXPECT_EQ(c.code, kPassesOn);
    }
    ASSERT_NE(slot, nullptr);
    EXPECT_EQ(slot->id, 1);
  }
}

struct handing_back {
  handing_back(int& error, int code) { error = code; }
};

TEST(ModuleBuilder, HandedBackCodesAreThrown) {
  EXPECT_NE(MakeHandingBackCode<handing_back>(0), nullptr);
  try {
    MakeHandingBackCode<handing_back>(58);
    ADD_FAILURE() << "no code thrown";
  } catch (ErrorCode code) {
    EXPECT_EQ(code, 58);
  }
}

}  // namespace
}  // namespace velmo
