#include "platform/message_box.h"

#include <cstdio>

namespace qoramark::platform {

// Without a desktop the box becomes its caption on one line, then its text,
// on standard error.
void showMessageBox(const std::string& text, const std::string& caption) {
    std::fwrite(caption.data(), 1, caption.size(), stderr);
    std::fputc('\n', stderr);
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

} // namespace qoramark::platform
