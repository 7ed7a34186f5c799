#include "opc/OpcCheck.h"

#include "opc/UaClient.h"

namespace velkor {

std::vector<std::string> OPCTagProblems(const TModbusRegister& tag) {
  std::vector<std::string> problems;
  if (tag.WorkType != kWorkOPC) return problems;
  if (!opc::ParseEndpointUrl(tag.ProgID))
    problems.push_back("OPC server \"" + tag.ProgID +
                       "\" is not an endpoint URL (opc.tcp://host:port/path)");
  if (!opc::ParseNodeId(tag.OPCItem))
    problems.push_back("OPC item \"" + tag.OPCItem +
                       "\" is not a NodeId (ns=2;s=Name, i=2258, ns=1;g=GUID, ns=3;b=BASE64)");
  return problems;
}

}  // namespace velkor
