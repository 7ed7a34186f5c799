#pragma once
// What can be told about an OPC tag before any server is asked: its ProgID must be an
// opc.tcp:// endpoint URL and its OPCItem a NodeId in text form, or the link can never
// serve it.

#include <string>
#include <vector>

#include "model/ModbusRegister.h"

namespace velkor {

// The problems of one tag, each a sentence without the tag's name; none for a tag that is
// not an OPC tag.
std::vector<std::string> OPCTagProblems(const TModbusRegister& tag);

}  // namespace velkor
