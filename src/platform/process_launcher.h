// Starting another program (the user's browser) without a shell and without waiting for it.
//
// Threads: any thread. The started program is reaped by a small thread of its own, so no
// zombie is left behind and nobody waits for the program.
#pragma once

#include <string>
#include <vector>

namespace taviro::platform {

class IProcessLauncher {
  public:
    virtual ~IProcessLauncher() = default;
    // Starts `program` (looked up in PATH when it has no '/') with these arguments; true
    // when it started.
    virtual bool Start(const std::string& program, const std::vector<std::string>& arguments) = 0;
};

// posix_spawnp: the program runs with the arguments as they are; nothing is interpreted.
class CSpawnLauncher final : public IProcessLauncher {
  public:
    bool Start(const std::string& program, const std::vector<std::string>& arguments) override;
};

}  // namespace taviro::platform
