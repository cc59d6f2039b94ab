// "[lake_model]": each module reads as far as it needs, a switched-off section
// no further than its switch.
#include "setup/lake_section.h"

#include <gtest/gtest.h>

#include "framework/modelobject.h"
#include "support/test_support.h"

namespace velmo {
namespace {

using test::WriteFile;

class LakeSection : public test::MessagesTest {
 protected:
  LakeSection() { module.name = "routing_model"; }
  lake_section Read(const std::string& values, lake_values last) {
    WriteFile(module.control_file_name, "[other]\n9\n[lake_model]\n" + values + "[next]\n");
    return ReadLakeSection(module, "[lake_model]", last);
  }
  modelobject module{&ms, dir / "control.intern"};
};

TEST_F(LakeSection, EachModuleReadsUpToItsLastValue) {
  const std::string values = "1 on\n2 method\n0.05 albedo\n0.001 z0\n1 readgrids\n";
  const lake_section all = Read(values, lake_values::readgrids);
  EXPECT_EQ(all.flow_control, 1);
  EXPECT_EQ(all.initialization_method, 2);
  EXPECT_EQ(all.albedo, 0.05);
  EXPECT_EQ(all.roughness_length, 0.001);
  EXPECT_EQ(all.readgrids, 1);
  EXPECT_EQ(module.control_file, nullptr);

  // Only what the module needs must stand there.
  const lake_section method = Read("1\n2\n", lake_values::initialization_method);
  EXPECT_EQ(method.initialization_method, 2);
  EXPECT_EQ(method.albedo, 0.0);
  EXPECT_EQ(Read("1\n", lake_values::flow_control).flow_control, 1);
  const lake_section off = Read("0 off\n", lake_values::readgrids);
  EXPECT_EQ(off.flow_control, 0);
  EXPECT_EQ(off.readgrids, 0);
  EXPECT_EQ(console.str(), "");
}

TEST_F(LakeSection, FaultsNameTheValue) {
  EXPECT_NE(ExpectCode(17, [&] { Read("1\n2\n0.05x\n0.001\n", lake_values::open_water); })
                .find("error in control file, Albedo_OpenWater for [lake_model]; routing_modelnot found! "
                      "(\"0.05x\" is no finite number)"),
            std::string::npos);
  EXPECT_NE(ExpectCode(17, [&] { Read("1\n", lake_values::initialization_method); })
                .find("initialization method for [lake_model]; routing_modelnot found!"),
            std::string::npos);
  WriteFile(module.control_file_name, "[other]\n");
  EXPECT_NE(ExpectCode(17, [&] { ReadLakeSection(module, "[lake_model]", lake_values::flow_control); })
                .find("[lake_model]; (EOF)not found!"),
            std::string::npos);
}

}  // namespace
}  // namespace velmo
