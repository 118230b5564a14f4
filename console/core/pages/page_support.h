#pragma once
// What the array, controller and enclosure pages share besides their texts: message boxes by string
// id, the tree checks after a call that may nest, and the member disks of a console-made array.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "console/core/ui_services.h"
#include "console/core/virtual_folder.h"

namespace kelm::console {
class CDremmoralDoc;
}

namespace kelm::console::pages {

// Which model's controls an intelligent-I/O page shows, from the controller's IsQx6: 99 (absent)
// changes nothing, 0 is the standard model, anything else the QX model.
enum class ModelSet { Unchanged, Qx, Standard };
ModelSet ModelSetOf(int isQx6);

// Tells a page whether ShowNode gave it the node it showed before (the pane selects it again after a
// reload), so that only the controls the administrator has not touched are written again.
class RepeatShow {
 public:
  bool Again(CVirtualFolder* node) {
    const bool same = node && node == last_.get();
    last_ = PeaRef<CVirtualFolder>(node);
    return same;
  }

 private:
  PeaRef<CVirtualFolder> last_;
};

extern const char kConnectionErrorText[];
extern const char kMembersUnreadText[];
extern const char kArrayLeftText[];

int Message(CDremmoralDoc& doc, int stringId, MsgIcon icon, MsgButtons buttons = MsgButtons::Ok);
int MessageText(CDremmoralDoc& doc, const std::string& text, MsgIcon icon, MsgButtons buttons = MsgButtons::Ok);
void ConnectionError(CDremmoralDoc& doc);

// The disks of a console-made array: its short cuts resolved, in child order, of the given type.
std::vector<CVirtualFolder*> MemberDisks(CVirtualFolder* array, int diskType);

// The leading number of each member's property as already read (no query), when every member has
// one and no two are equal.
std::optional<std::vector<int>> MemberIds(const std::vector<CVirtualFolder*>& disks, std::string_view property);
// Lists the members again, so that what was not read arrives.
void RereadDisks(const std::vector<CVirtualFolder*>& disks);

// The create of a console-made array, as both families' array pages send it.
struct NewArrayRequest {
  int controllerType = 0;
  int diskType = 0;
  const char* idProperty = "";  // the member property sent for each disk
  bool serial = false;
  bool askOptions = false;  // the options dialog runs for this model and level
  std::string name;
  std::string level;
  int blockSent = 64;
};
// Checks the node is still its controller's child, the name, the member count and the member ids
// (in that order, before anything is sent), asks the options, sends CreateArray on the controller and,
// once that went out, removes the console-made array and its marks and lists the disks again. True
// when the create was sent.
bool CommitConsoleArray(CDremmoralDoc& doc, CVirtualFolder* array, const NewArrayRequest& request);

// A property's text as read, without asking the agent.
std::optional<std::string> ReadNoQuery(const CVirtualFolder* node, std::string_view name);

}  // namespace kelm::console::pages
