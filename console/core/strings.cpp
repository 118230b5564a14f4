#include "console/core/strings.h"

#include <algorithm>
#include <array>
#include <utility>

namespace kelm::console {
namespace {

struct Entry {
  int id;
  std::string_view text;
};

// Sorted by id.
constexpr Entry kTable[] = {
    {129, "Windows sockets initialization failed."},
    {131, "Block Size is invalid. (Input cannot contain any character.) "},
    {133, "Login Error"},
    {134, "RAID0-Striping must have at least 1 disk"},
    {135, "RAID1-Mirror must have only 2 disks"},
    {136, "RAID0+1-Stripe+Mirror must have multiple of 4 disks"},
    {137, "RAID3/RAID5 must have at least 3 disks"},
    {138, "Span Array must have at least 1 disk"},
    {139, "Unknown RAID Level"},
    {140, "Functional"},
    {141, "Critical"},
    {142, "Offline"},
    {144, "Velkari Array Management"},
    {145, "Please reboot the system for the Cache Setting changes to take effect. "},
    {146, "nouser"},
    {147, "Disabled"},
    {152, "Velkari Array Management"},
    {153, "Please wait ..."},
    {157, "&My Console"},
    {158, "&Server"},
    {159, "&RAIDMachine"},
    {160, "&Array"},
    {161, "&Controller"},
    {162, "&Channel"},
    {163, "&Disk"},
    {164, "&Enclosure"},
    {165, "&Power"},
    {166, "&Fan"},
    {167, "&Temperature"},
    {168, "&Voltage"},
    {169, "&UserAccount"},
    {170, "&User"},
    {171, "&RAIDsystem"},
    {172, "Rebuilding"},
    {173, "Synchronizing"},
    {174, "Expanding"},
    {175, "Array"},
    {176, "New User"},
    {177, "The password you input does not match!"},
    {178, "You did not input a new password, are you sure?"},
    {180, "Email address is not a valid format"},
    {181, "Error"},
    {182, "Warning"},
    {183, "Information"},
    {184, "Unknown"},
    {185, "-----------"},
    {186, "Free"},
    {187, "Assigned to an array"},
    {189, "Are you sure you want to delete this user account?"},
    {190, "Are you sure you want to delete this server?"},
    {191, "If a partition has already been created for this array, deleting the array will cause the device to fail "
     "Read/Write requests from the operating system. This is not desirable if this is a boot device. So Please make "
     "sure you have first deleted the partition. Are you sure you want to delete this array?"},
    {193, "Cache dirty threshold start value should be at least 10% larger than stop value, and start value must  lie between 10% and 90%\n"},
    {194, "Ready"},
    {195, "Are you sure you want to clear all events in the Event History buffer?"},
    {196, "You did not select any disk"},
    {197, "You have selected too many disks"},
    {198, "Are you sure you want to rebuild this array?"},
    {199, "Are you sure you want to synchronize this array?"},
    {200, "One or more input value is (are) invalid!"},
    {201, "You cannot delete the user account you are logged on with."},
    {202, "Flush Timer value must be between 1 and 10 sec."},
    {203, "Pausing Rebuild or Synchronize could cause the Array to lose fault tolerance and/or data integrity. Are you "
     "sure?"},
    {204, "Stopping Rebuild or Synchronize could cause the Array to lose fault tolerance and/or data integrity. Are you "
     "sure?"},
    {205, "&Controller"},
    {206, "&Array"},
    {207, "&Channel"},
    {208, "&Disk"},
    {209, "&Enclosure"},
    {800, "Functional"},
    {32777, "Rebuild array\nRebuild array"},
    {32778, "Check array integrity\nSynchronize"},
    {32781, "Delete this array\nDelete Array"},
    {32784, "Refresh content of this object"},
    {32791, "Collapse this node"},
    {32799, "Add a new user\nNew user account"},
    {32802, "Delete user\nDelete User"},
    {32807, "New Server"},
    {32809, "Create a new array under the RAID system\nCreate Array"},
    {32810, "rebuild this disk under array"},
    {32813, "Disconnect"},
    {32814, "Connect"},
    {32816, "Rename this item"},
    {32817, "Expand this node"},
    {32818, "read event records"},
    {32819, "clear all event records"},
    {32821, "Change display font\nchange font"},
    {32822, "Change background color\nbackground color"},
    {32826, "Hide OutLine pane"},
    {32828, "Remove the disk from the new array\nRemove from Array"},
    {32829, "Automatically display all items one by one"},
    {32832, "Continue\nContinue"},
    {32833, "Pause\nPause"},
    {32834, "Stop\nStop"},
    {32835, "Toggle the Beeper State"},
    {32842, "Login to Palindrex Agent\nLogin"},
    {32843, "Logout from Palindrex Agent\nLogout"},
    {32853, "Add to new array\nAdd to Array"},
    {32857, "Start the console when the system starts\nRun on Startup"},
    {61206, "Please reboot for the new setting."},
    {61207, "Please reboot after the initialization to make the new array effective."},
    {61210, "Converting"},
    {61211, "Initializing"},
    {61212, "Are you sure you want to convert this existing array?"},
    {61213, "Are you sure you want to expand this existing array?"},
    {61214, "Are you sure you want to delete this array?"},
    {61215, "The RAID type does not support Conversion"},
    {61216, "If you stop the process of conversion/expansion, the integrity of the array might get disrupted. Are you sure "
     "you want to stop the current process of conversion/expansion?"},
    {61217, "RAID30/RAID50 must have at least 6 disks"},
    {61218, "The RAID type does not support Expansion"},
};

}  // namespace

std::string_view LoadString(int id) {
  auto it = std::lower_bound(std::begin(kTable), std::end(kTable), id,
                             [](const Entry& e, int key) { return e.id < key; });
  return (it != std::end(kTable) && it->id == id) ? it->text : std::string_view();
}

std::string_view CommandStatusText(int commandId) {
  const std::string_view prompt = LoadString(commandId);
  return prompt.substr(0, prompt.find('\n'));
}

std::string_view CommandToolTip(int commandId) {
  const std::string_view prompt = LoadString(commandId);
  const std::size_t nl = prompt.find('\n');
  return nl == std::string_view::npos ? std::string_view() : prompt.substr(nl + 1);
}

}  // namespace kelm::console
