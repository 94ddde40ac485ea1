#include "discovery/IfconfigParser.h"

#include "discovery/ShellCommand.h"
#include "platform/foundation/Text.h"

namespace ww {

namespace {

// The text after the line's first blank (U+0020 only; tabs do not count).
std::optional<std::string_view> afterFirstBlank(std::string_view line) {
    size_t blank = line.find(' ');
    if (blank == std::string_view::npos) return std::nullopt;
    return line.substr(blank + 1);
}

class IfconfigBlockReader {
  public:
    void readLine(std::string_view line) {
        if (text::contains(line, "flags=")) {
            size_t colon = line.find(':');
            if (colon == std::string_view::npos) return;
            if (m_name) finishBlock();
            m_name = std::string(line.substr(0, colon));
            m_loopback = text::contains(line, "LOOPBACK");
        } else if (text::contains(line, "ether")) {
            if (auto rest = afterFirstBlank(line)) m_hardwareAddress = text::trim(*rest);
        } else if (text::contains(line, "status:")) {
            if (auto rest = afterFirstBlank(line)) m_status = *rest;
        } else if (text::contains(line, "inet ")) {
            if (auto rest = afterFirstBlank(line)) m_address = rest->substr(0, rest->find(' '));
        }
    }

    InterfaceTable finish() {
        if (m_name) finishBlock();
        return std::move(m_table);
    }

    std::vector<IfconfigBlock> seen() { return std::move(m_seen); }

  private:
    void finishBlock() {
        m_seen.push_back(IfconfigBlock{*m_name, m_address, m_status, m_loopback});
        if (!m_address.empty() && !m_address.starts_with("127")) {
            auto info = std::make_shared<InterfaceInfo>();
            info->MacAdress.set(m_hardwareAddress);
            info->IPAdress.set(m_address);
            info->BSDName.set(*m_name);
            info->status.set(m_status);
            info->type.set(m_type);
            m_table[*m_name] = std::move(info);
        }
        m_name.reset();
        m_address.clear();
        m_hardwareAddress.clear();
        m_status.clear();
        m_type.clear();
        m_loopback = false;
    }

    InterfaceTable m_table;
    std::vector<IfconfigBlock> m_seen;
    bool m_loopback = false;
    // Values read before the first block start count toward that block.
    std::optional<std::string> m_name;
    std::string m_address;
    std::string m_hardwareAddress;
    std::string m_status;
    std::string m_type;  // never filled by ifconfig; records start with an empty type
};

}  // namespace

InterfaceTable parseIfconfigOutput(const std::optional<std::string>& output) {
    IfconfigBlockReader reader;
    if (output) {
        for (std::string_view line : text::splitLines(*output)) reader.readLine(line);
    }
    return reader.finish();
}

std::vector<IfconfigBlock> parseIfconfigBlocks(const std::optional<std::string>& output) {
    IfconfigBlockReader reader;
    if (output) {
        for (std::string_view line : text::splitLines(*output)) reader.readLine(line);
    }
    reader.finish();
    return reader.seen();
}

InterfaceTable executeAndParseIfconfigCommand(const CommandTable& commands,
                                              std::vector<IfconfigBlock>* seen) {
    auto output = runShellCommand(commands.ifconfig, __func__, commands.builtIns.get()).output;
    IfconfigBlockReader reader;
    if (output) {
        for (std::string_view line : text::splitLines(*output)) reader.readLine(line);
    }
    InterfaceTable table = reader.finish();
    if (seen) *seen = reader.seen();
    return table;
}

}  // namespace ww
