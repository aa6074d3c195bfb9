#pragma once

#include <string>

namespace qoramark::platform {

// A modal box with one OK button and no owner; returns once it is closed.
void showMessageBox(const std::string& text, const std::string& caption);

} // namespace qoramark::platform
