// The check of an OPC tag's server and item before a run (velkor --check).

#include <gtest/gtest.h>

#include "opc/OpcCheck.h"

using namespace velkor;

namespace {

struct CheckCase {
  const char* name;
  uint8_t workType;
  const char* progId;
  const char* item;
  std::vector<std::string> problems;
};

const char kBadUrl[] = "\" is not an endpoint URL (opc.tcp://host:port/path)";
const char kBadItem[] = "\" is not a NodeId (ns=2;s=Name, i=2258, ns=1;g=GUID, ns=3;b=BASE64)";

class OPCTagCheck : public ::testing::TestWithParam<CheckCase> {};

TEST_P(OPCTagCheck, NamesWhatCannotWork) {
  TModbusRegister tag;
  tag.WorkType = GetParam().workType;
  tag.ProgID = GetParam().progId;
  tag.OPCItem = GetParam().item;
  EXPECT_EQ(OPCTagProblems(tag), GetParam().problems);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OPCTagCheck,
    ::testing::Values(
        CheckCase{"Good", kWorkOPC, "opc.tcp://127.0.0.1:4840/x", "ns=2;s=Tank.Level", {}},
        CheckCase{"NumericItem", kWorkOPC, "opc.tcp://plc", "i=2258", {}},
        CheckCase{"NotAnOPCTag", kWorkManual, "Matrikon.OPC.Simulation", "Random.Int1", {}},
        CheckCase{"DaProgId",
                  kWorkOPC,
                  "Matrikon.OPC.Simulation",
                  "ns=1;i=5",
                  {std::string("OPC server \"Matrikon.OPC.Simulation") + kBadUrl}},
        CheckCase{"DaItem",
                  kWorkOPC,
                  "opc.tcp://h:4840",
                  "Random.Int1",
                  {std::string("OPC item \"Random.Int1") + kBadItem}},
        CheckCase{"Both",
                  kWorkOPC,
                  "",
                  "",
                  {std::string("OPC server \"") + kBadUrl, std::string("OPC item \"") + kBadItem}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
