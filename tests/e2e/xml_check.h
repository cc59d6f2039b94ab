// Checks of the diagnostics file that the end-to-end tests share.
#pragma once

#include <cstdlib>
#include <string>

namespace velmo::test {

// Whether xmllint takes the file as well-formed XML.
inline bool WellFormed(const std::string& xml_path) {
  return std::system(("xmllint --noout '" + xml_path + "' 2>/dev/null").c_str()) == 0;
}

}  // namespace velmo::test
