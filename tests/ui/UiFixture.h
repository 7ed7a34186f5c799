#pragma once
// A small project with every kind of tree node: a TCP and an RTU server, devices with and
// without groups, nested groups, tags at every level, a constant group.

#include <QTest>
#include <string>

#include "project/Session.h"

namespace velkor {

inline const char* kTreeProject = R"(<Servers>
<Server><Name>Alpha</Name><Port>1502</Port><Desc>первый</Desc><Mode>true</Mode>
<Device><Name>Plc</Name><Number>1</Number><Description>с группами</Description>
<Groups><Items><Name>MainGroup</Name>
<Items><Name>Насосы</Name><Items><Name>Вложенная</Name></Items></Items>
<Items><Name>Клапаны</Name></Items>
</Items></Groups>
<Register><Name>Top</Name><Addr>0</Addr><vType>18</vType><WorkType>2</WorkType><Value>5</Value></Register>
<Register><Name>P1</Name><Addr>1</Addr><vType>4</vType><Group>Alpha.Plc.Насосы</Group><WorkType>2</WorkType><Percent>2.5</Percent><Value>1.5</Value></Register>
<Register><Name>Deep</Name><Addr>3</Addr><vType>3</vType><mSpace>1</mSpace><Group>Alpha.Plc.Насосы.Вложенная</Group><WorkType>2</WorkType><Value>-7</Value></Register>
<Register><Name>V1</Name><Addr>2</Addr><vType>11</vType><mSpace>2</mSpace><Group>Alpha.Plc.Клапаны</Group><ConstGroupName>Состояние</ConstGroupName><WorkType>2</WorkType><Value>true</Value></Register>
</Device>
<Device><Name>Empty</Name><Number>7</Number></Device>
</Server>
<Server><Name>Beta</Name><Mode>false</Mode><COMMPORT>/dev/ttyUSB0</COMMPORT>
<Device><Name>Rtu</Name><Number>3</Number></Device>
</Server>
<CONSTGROUPS><CONSTGROUP><Name>Состояние</Name><CONST><NAME>Вкл</NAME><VALUE>True</VALUE></CONST></CONSTGROUP></CONSTGROUPS>
<FUNCTIONS/>
</Servers>)";

}  // namespace velkor
