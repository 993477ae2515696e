// `taviro-cli firmware --folder DIR [--list] [--image FILE]...` scans DIR as the upgrade
// window scans the storage folder's Upgrade sub-folder and lists the accepted images with
// the rows they would fill; with --image (a file name in DIR, repeatable) it upgrades
// those images one after the other in slot order, printing the progress and each result.
// Exit status 0 only when every named image was upgraded.
#pragma once

#include <string>
#include <vector>

namespace taviro::cli {

int RunFirmware(const std::vector<std::string>& args);

}  // namespace taviro::cli
