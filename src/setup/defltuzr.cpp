#include "setup/defltuzr.h"

namespace velmo {

defaultini::defaultini(MessageStream* stream, const std::string& control_file_name)
    : modelobject(stream, control_file_name) {
  name = "defaultini";
}

}  // namespace velmo
