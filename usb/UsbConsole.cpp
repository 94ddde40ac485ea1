#include "usb/UsbConsole.h"

#include <syslog.h>

#include <cstdio>
#include <string>

namespace ww {

namespace {

class StandardConsole final : public UsbConsole {
  public:
    void standardError(std::string_view text) override { write(stderr, text); }
    void standardOutput(std::string_view text) override { write(stdout, text); }
    void systemLog(std::string_view message) override {
        const std::string copy(message);  // syslog wants a terminated string
        syslog(LOG_NOTICE, "%s", copy.c_str());
    }

  private:
    static void write(std::FILE* stream, std::string_view text) {
        std::fwrite(text.data(), 1, text.size(), stream);
        // Interleaves with the terminal logger's lines in the order written.
        std::fflush(stream);
    }
};

}  // namespace

UsbConsole& UsbConsole::standard() {
    static StandardConsole console;
    return console;
}

}  // namespace ww
