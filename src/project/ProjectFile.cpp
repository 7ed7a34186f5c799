#include "project/ProjectFile.h"

namespace velkor {

void Project::Reset() {
  Pending.clear();
  if (Servers.Running()) Servers.Stop();
  for (const auto& server : Servers)
    if (server->Running()) server->Stop();
  Servers.Clear();
  ConstGroups.Clear();
  Functions.Clear();
}

int Project::DeviceCount() const {
  int count = 0;
  for (const auto& server : Servers) count += server->Devices().Count();
  return count;
}

int Project::TagCount() const {
  int count = 0;
  for (const auto& server : Servers)
    for (const auto& device : server->Devices()) count += device->Tags().Count();
  return count;
}

}  // namespace velkor
