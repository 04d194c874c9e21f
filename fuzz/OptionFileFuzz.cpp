// An option file is edited by hand and copied between machines: any bytes must give a list of
// servers or an OptionFileError, and a list that was read must write and read back the same.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "app/OptionFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    try {
        const vela::app::OptionFile file = vela::app::ParseOptionFile(bytes, vela::app::OptionReader::Dialog);
        (void)vela::app::ValidateServers(file.servers);
        for (const vela::app::OptionServer& server : file.servers) (void)server.UAConnectionOptions();
        const std::string written = vela::app::FormatOptionFile(file.servers, 15000);
        const vela::app::OptionFile again = vela::app::ParseOptionFile(written, vela::app::OptionReader::Dialog);
        if (again.servers.size() != file.servers.size()) __builtin_trap();
        for (size_t i = 0; i < file.servers.size(); ++i)
            if (vela::app::ServerFields(again.servers[i]) != vela::app::ServerFields(file.servers[i])) __builtin_trap();
    } catch (const vela::app::OptionFileError&) {
    }
    return 0;
}
